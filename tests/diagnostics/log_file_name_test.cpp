// Log file names: the worked examples, hostile identity pieces and the module short name.
#include "diagnostics/log_file_name.h"

#include <gtest/gtest.h>

#include "diagnostics_sandbox.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace qar::diagnostics {
namespace {

const platform::TDateTime kDecember5 = platform::EncodeDateTime({2026, 12, 5, 14, 3, 27, 0});

std::string Name(std::int32_t level, std::string_view op, std::string_view app,
                 std::string_view host, bool isErrorLog = false) {
  return ComposeLogFileName("C:\\Temp\\", "QarSnc.exe", kDecember5, level, op, app, host,
                            isErrorLog);
}

TEST(LogFileNameTest, WorkedExamples) {
  EXPECT_EQ(Name(1, "MARIA", "CAIXA", "LOJA01-PC"), "C:\\Temp\\QarSnc.exe_20261205_Monitor.log");
  EXPECT_EQ(Name(2, "MARIA", "CAIXA", "LOJA01-PC"),
            "C:\\Temp\\QarSnc.exe_MARIA_20261205_Monitor.log");
  EXPECT_EQ(Name(3, "MARIA", "CAIXA", "LOJA01-PC"),
            "C:\\Temp\\QarSnc.exe_CAIXA_MARIA_20261205_Monitor.log");
  EXPECT_EQ(Name(4, "MARIA", "CAIXA", "LOJA01-PC"),
            "C:\\Temp\\QarSnc.exe_LOJA01-PC_CAIXA_MARIA_20261205_Monitor.log");
  EXPECT_EQ(Name(9, "MARIA", "CAIXA", "LOJA01-PC"),
            "C:\\Temp\\QarSnc.exe_LOJA01-PC_CAIXA_MARIA_20261205_Monitor.log");
  EXPECT_EQ(Name(1, "MARIA", "CAIXA", "LOJA01-PC", true), "C:\\Temp\\QarSnc.exe_20261205_Error.log");
  EXPECT_EQ(Name(3, " ", "CAIXA", "LOJA01-PC"), "C:\\Temp\\QarSnc.exe_CAIXA_20261205_Monitor.log");
  EXPECT_EQ(Name(4, "MARIA", "  ", "LOJA01-PC"),
            "C:\\Temp\\QarSnc.exe_LOJA01-PC__MARIA_20261205_Monitor.log");
  EXPECT_EQ(Name(2, "  MARIA ", "CAIXA", "LOJA01-PC"),
            "C:\\Temp\\QarSnc.exe_MARIA_20261205_Monitor.log");
}

TEST(LogFileNameTest, LowLevelsAndBlankOperatorsCarryNoIdentity) {
  EXPECT_EQ(Name(2, "\t\r\n ", "CAIXA", "PC"), Name(1, "", "", ""));
  EXPECT_EQ(Name(0, "MARIA", "CAIXA", "PC"), Name(1, "", "", ""));
  EXPECT_EQ(Name(-56, "MARIA", "CAIXA", "PC"), Name(1, "", "", ""));
  EXPECT_EQ(Name(4, "", "", ""), "C:\\Temp\\QarSnc.exe___20261205_Monitor.log");
}

TEST(LogFileNameTest, EntriesAroundMidnightGoToTwoFiles) {
  const platform::TDateTime before = platform::EncodeDateTime({2026, 12, 5, 23, 59, 59, 999});
  const platform::TDateTime after = platform::EncodeDateTime({2026, 12, 6, 0, 0, 0, 0});
  EXPECT_EQ(ComposeLogFileName("", "QarSnc.exe", before, 1, "", "", "", false),
            "QarSnc.exe_20261205_Monitor.log");
  EXPECT_EQ(ComposeLogFileName("", "QarSnc.exe", after, 1, "", "", "", false),
            "QarSnc.exe_20261206_Monitor.log");
}

TEST(LogFileNameTest, OrdinaryIdentityPiecesStayAsTheyAre) {
  const std::string op = "Jo\xE3o.Silva-2";  // Windows-1252 'ã' is not touched
  EXPECT_EQ(Name(4, op, "PDV (1)", "loja_01.local"),
            "C:\\Temp\\QarSnc.exe_loja_01.local_PDV (1)_" + op + "_20261205_Monitor.log");
}

// A remote caller supplies the identity: it must never name another directory.
TEST(LogFileNameTest, HostileIdentityPiecesStayInsideTheLogDirectory) {
  const std::string dir = std::string("C:\\Temp") + platform::kPathDelim;
  const char* hostile[] = {"..\\..\\x", "a/b", "c:d", "e\x01" "f\x1Fg", "<>\"|?*", "..", "x\x7F"};
  for (const char* piece : hostile) {
    const std::string path =
        ComposeLogFileName(dir, "QarSnc.exe", kDecember5, 4, piece, piece, piece, false);
    ASSERT_EQ(path.substr(0, dir.size()), dir) << piece;
    const std::string name = path.substr(dir.size());
    EXPECT_EQ(name.find_first_of("\\/:<>\"|?*"), std::string::npos) << name;
    for (const char c : name) EXPECT_GT(static_cast<unsigned char>(c), 0x1F) << name;
    EXPECT_EQ(platform::ExtractFilePath(path), dir) << path;
  }
  EXPECT_EQ(ComposeLogFileName("", "QarSnc.exe", kDecember5, 2, "..\\..\\x", "", "", false),
            "QarSnc.exe_.._.._x_20261205_Monitor.log");
  EXPECT_EQ(ComposeLogFileName("", "QarSnc.exe", kDecember5, 3, " c:d\t", "a/b", "", false),
            "QarSnc.exe_a_b_c_d_20261205_Monitor.log");
}

TEST(LogFileNameTest, ModuleShortNameIsTheFirst15CharactersOfTheFileName) {
  EXPECT_EQ(ShortNameOfModule("C:\\Program Files\\Qar\\QarSnc.exe"), "QarSnc.exe");
  EXPECT_EQ(ShortNameOfModule("C:\\Servidor\\ServidorRetaguarda.dll"), "ServidorRetagua");
  EXPECT_EQ(ShortNameOfModule("/opt/qar/QarSnc.exe"), "QarSnc.exe");
  EXPECT_EQ(ComposeLogFileName("", ShortNameOfModule("ServidorRetaguarda.dll"), kDecember5, 1, "",
                               "", "", true),
            "ServidorRetagua_20261205_Error.log");
  EXPECT_EQ(ModuleShortName(), ShortNameOfModule(platform::ExecutableFileName()));
}

using BuildLogFileNameTest = testing::DiagnosticsSandbox;

TEST_F(BuildLogFileNameTest, JoinsTheLogDirectoryTheModuleAndTheClockDate) {
  SetString("TmpFileDir", LogDir());
  platform::SimulatedClock clock(kDecember5);
  EXPECT_EQ(BuildLogFileName(3, "MARIA", "CAIXA", "PC", false, clock),
            LogDir() + ModuleShortName() + "_CAIXA_MARIA_20261205_Monitor.log");
}

}  // namespace
}  // namespace qar::diagnostics
