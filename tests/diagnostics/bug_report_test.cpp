// The bug report: byte-exact entries, the separator of an existing file, raised failures.
#include "diagnostics/bug_report.h"

#include <gtest/gtest.h>

#include "diagnostics/log_file.h"
#include "diagnostics_sandbox.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace qar::diagnostics {
namespace {

using testing::Golden;

const int kInThisExecutable = 0;

class BugReportTest : public testing::DiagnosticsSandbox {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    platform::SetShortDateFormat("dd/MM/yyyy", '/');
  }
  static BugReportEntry Entry(std::string dll, std::string datamodule, std::string message) {
    return {"C:\\Loja\\QarSnc.exe", std::move(dll), std::move(datamodule), "TCreateError", std::move(message)};
  }
  static platform::TDateTime At(int hour, int minute, int second) {
    return platform::EncodeDateTime({2026, 12, 5, hour, minute, second, 0});
  }
};

TEST_F(BugReportTest, ANewReportStartsWithTheEntryAndLaterOnesFollowASeparator) {
  const std::string path = Dir() + "bugreport.txt";
  AppendBugReport(path, Entry("C:\\Loja\\Vendas.dll", "dmVendas", "N\xE3o foi poss\xEDvel conectar"),
                  At(14, 3, 27));
  const std::string first = ReadFile(path);
  AppendBugReport(path, Entry("C:\\Loja\\QarSnc.exe", "dmEstoque", "Access denied"), At(14, 5, 0));
  const std::string both = ReadFile(path);
  EXPECT_EQ(both, Golden("bugreport.txt"));
  EXPECT_EQ(both.substr(0, first.size()), first);
}

TEST_F(BugReportTest, AReportThatCannotBeWrittenRaisesWithTheSystemText) {
  const std::string path = Dir() + "missing" + platform::kPathDelim + "bugreport.txt";
  try {
    AppendBugReport(path, Entry("x.dll", "dm", "m"), At(1, 2, 3));
    FAIL() << "no failure raised";
  } catch (const TInOutError& e) {
    EXPECT_NE(e.Code(), 0);
    EXPECT_EQ(e.Path(), path);
    EXPECT_GT(std::string(e.what()).size(), path.size() + 2) << e.what();
  }
  EXPECT_FALSE(Exists(path));
}

// The component class of this test lives in the executable itself.
TEST_F(BugReportTest, WritesBesideTheModuleWithTheExecutableAndComponentModule) {
  const std::string path = BugReportPath();
  EXPECT_EQ(path, platform::ExtractFilePath(platform::ExecutableFileName()) + "bugreport.txt");
  std::error_code ignored;
  std::filesystem::remove(platform::ToNativePath(path), ignored);
  platform::SimulatedClock clock(At(9, 30, 0));
  const std::string exe = ModuleFileName(nullptr);
  WriteBugReport("TCreateError", "falhou", ModuleFileName(&kInThisExecutable), "dmTeste", clock);
  const std::string report = ReadFile(path);
  std::filesystem::remove(platform::ToNativePath(path), ignored);

  EXPECT_EQ(exe, platform::ExecutableFileName());
  EXPECT_EQ(report, "Data/Hora .: 05/12/2026 09:30:00\r\nEXE .......: " + exe + "\r\nDLL .......: " + exe +
                        "\r\nDatamodule : dmTeste\r\nErro ......: TCreateError\r\nMensagem ..: falhou\r\n");
}

}  // namespace
}  // namespace qar::diagnostics
