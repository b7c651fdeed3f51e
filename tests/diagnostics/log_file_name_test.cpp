// Log file names: the worked examples, hostile identity pieces and the module short name.
#include "diagnostics/log_file_name.h"

#include <gtest/gtest.h>

#include "diagnostics_sandbox.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace qar::diagnostics {
namespace {

platform::TDateTime December(int day = 5, int hour = 14, int minute = 3, int second = 27, int ms = 0) {
  return platform::EncodeDateTime({2026, 12, day, hour, minute, second, ms});
}

TEST(LogFileNameTest, IdentityPiecesByLevelDateAndKind) {
  const struct {
    std::int32_t level;
    const char *op, *app, *host;
    bool isErrorLog;
    platform::TDateTime today;
    const char* expected;  // after "C:\Temp\QarSnc.exe_"
  } cases[] = {
      {1, "MARIA", "CAIXA", "LOJA01-PC", false, December(), "20261205_Monitor.log"},
      {2, "MARIA", "CAIXA", "LOJA01-PC", false, December(), "MARIA_20261205_Monitor.log"},
      {3, "MARIA", "CAIXA", "LOJA01-PC", false, December(), "CAIXA_MARIA_20261205_Monitor.log"},
      {4, "MARIA", "CAIXA", "LOJA01-PC", false, December(), "LOJA01-PC_CAIXA_MARIA_20261205_Monitor.log"},
      {9, "MARIA", "CAIXA", "LOJA01-PC", false, December(), "LOJA01-PC_CAIXA_MARIA_20261205_Monitor.log"},
      {4, "MARIA", "CAIXA", "LOJA01-PC", true, December(), "LOJA01-PC_CAIXA_MARIA_20261205_Error.log"},
      {3, " ", "CAIXA", "LOJA01-PC", false, December(), "CAIXA_20261205_Monitor.log"},
      {4, "MARIA", "  ", "LOJA01-PC", false, December(), "LOJA01-PC__MARIA_20261205_Monitor.log"},
      {4, "", "", "", false, December(), "__20261205_Monitor.log"},
      {2, "  MARIA ", "", "", false, December(), "MARIA_20261205_Monitor.log"},
      {2, "\t\r\n ", "", "", false, December(), "20261205_Monitor.log"},
      {0, "MARIA", "", "", false, December(), "20261205_Monitor.log"},
      {-56, "MARIA", "", "", false, December(), "20261205_Monitor.log"},
      {1, "", "", "", false, December(5, 23, 59, 59, 999), "20261205_Monitor.log"},
      {1, "", "", "", false, December(6, 0, 0, 0), "20261206_Monitor.log"},
      {4, "Jo\xE3o.Silva-2", "PDV (1)", "loja_01.local", false, December(),
       "loja_01.local_PDV (1)_Jo\xE3o.Silva-2_20261205_Monitor.log"},
      // Remote callers supply the pieces: separators and characters Windows refuses become "_".
      {2, "..\\..\\x", "", "", false, December(), ".._.._x_20261205_Monitor.log"},
      {3, " c:d\t", "a/b", "", false, December(), "a_b_c_d_20261205_Monitor.log"},
      {4, "<>\"|?*", "e\x01" "f\x1Fg", "x\x7F", false, December(), "x__e_f_g________20261205_Monitor.log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ComposeLogFileName("C:\\Temp\\", "QarSnc.exe", c.today, c.level, c.op, c.app, c.host, c.isErrorLog),
              std::string("C:\\Temp\\QarSnc.exe_") + c.expected)
        << c.level << " " << c.op;
  }
}

TEST(LogFileNameTest, ModuleShortNameIsTheFirst15CharactersOfTheFileName) {
  EXPECT_EQ(ShortNameOfModule("C:\\Program Files\\Qar\\QarSnc.exe"), "QarSnc.exe");
  EXPECT_EQ(ShortNameOfModule("C:\\Servidor\\ServidorRetaguarda.dll"), "ServidorRetagua");
  EXPECT_EQ(ShortNameOfModule("/opt/qar/QarSnc.exe"), "QarSnc.exe");
  EXPECT_EQ(ModuleShortName(), ShortNameOfModule(platform::ExecutableFileName()));
}

using BuildLogFileNameTest = testing::DiagnosticsSandbox;

TEST_F(BuildLogFileNameTest, JoinsTheLogDirectoryTheModuleAndTheClockDate) {
  SetString("TmpFileDir", LogDir());
  platform::SimulatedClock clock(December());
  EXPECT_EQ(BuildLogFileName(3, "MARIA", "CAIXA", "PC", false, clock),
            LogDir() + ModuleShortName() + "_CAIXA_MARIA_20261205_Monitor.log");
}

}  // namespace
}  // namespace qar::diagnostics
