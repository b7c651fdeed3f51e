// Connection log entries and bug report entries: byte-exact layouts, when nothing is
// written, raised failures.
#include <gtest/gtest.h>

#include "diagnostics/bug_report.h"
#include "diagnostics/connection_log.h"
#include "diagnostics/log_file.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {

class LogEntriesTest : public testing::DiagnosticsSandbox {
 protected:
  // A connection log entry for MARIA, calling from CAIXA on PDV01, on a connection of
  // `module` at 14:03:`second`.
  void Write(const char* module, bool designTime, bool socket, const TADOError* error, TEventStatus status, int second) {
    TComponent owner;
    owner.SetName(module);
    owner.CreateComponent<TADOConnection>().SetConnectionString(connectionString);
    platform::SimulatedClock clock(platform::EncodeDateTime({2026, 12, 5, 14, 3, second}));
    WriteConnectionLogEntry(static_cast<TADOConnection&>(owner.Components(0)), designTime, socket, "MARIA", "CAIXA",
                            "PDV01", error, status, clock);
  }
  std::string Log(const char* kind) const { return LogDir() + ModuleShortName() + "_20261205_" + kind + ".log"; }

  std::string connectionString = "Provider=SQLOLEDB.1;Password=segredo;User ID=sa;Initial Catalog=LOJA;Data Source=SRV01";
  const TADOError timeout{"Timeout expired", "HYT00", 0};
};

TEST_F(LogEntriesTest, MonitoredConnectionsFollowLayoutAAndUnmonitoredFailuresLayoutB) {
  MonitorEverybody(1);
  Write("dmVendas", true, true, nullptr, esOK, 27);
  const TADOError refused{"Login failed for user 'sa'.", "28000", 18456};
  Write("dmEstoque", false, false, &refused, esErrorsOccured, 28);
  EXPECT_EQ(ReadFile(Log("Monitor")), Golden("connection_monitor.log"));

  Store("SqlMonitor=#0|TmpFileDir=" + LogDir());
  connectionString = "Driver={SQL Server};Server=SRV01;UID=sa;PWD=segredo";
  Write("dmVendas", false, true, &timeout, esOK, 28);  // no failure: nothing
  Write("dmVendas", false, true, &timeout, esErrorsOccured, 29);
  EXPECT_EQ(ReadFile(Log("Error")), Golden("connection_error.log"));
  EXPECT_EQ(Files(LogDir()), 2);
}

TEST_F(LogEntriesTest, BugReportEntriesFollowASeparatorAndFailuresAreRaised) {
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  const std::string path = Dir() + "bugreport.txt";
  std::string exe = "C:\\Loja\\QarSnc.exe";
  AppendBugReport(path, {exe, "C:\\Loja\\Vendas.dll", "dmVendas", "TCreateError", "N\xE3o foi poss\xEDvel conectar"},
                  platform::EncodeDateTime({2026, 12, 5, 14, 3, 27}));
  AppendBugReport(path, {exe, exe, "dmEstoque", "TCreateError", "Access denied"}, platform::EncodeDateTime({2026, 12, 5, 14, 5}));
  EXPECT_EQ(ReadFile(path), Golden("bugreport.txt"));
  try {
    AppendBugReport(Dir() + "missing" + platform::kPathDelim + "bugreport.txt", {}, 0);
    ADD_FAILURE() << "no failure raised";
  } catch (const TInOutError& e) {
    EXPECT_GT(std::string(e.what()).size(), e.Path().size() + 2) << "the path and the system's text: " << e.what();
  }

  // Beside the module, naming the executable; the component class of this test lives in it.
  static const int inThisExecutable = 0;
  exe = platform::ExecutableFileName();
  const std::string report = platform::ExtractFilePath(exe) + "bugreport.txt";
  std::filesystem::remove(platform::ToNativePath(report));
  platform::SimulatedClock clock(platform::EncodeDateTime({2026, 12, 5, 9, 30}));
  WriteBugReport("TCreateError", "falhou", ModuleFileName(&inThisExecutable), "dmTeste", clock);
  const std::string text = ReadFile(report);
  std::filesystem::remove(platform::ToNativePath(report));
  EXPECT_EQ(BugReportPath(), report);
  EXPECT_EQ(text, "Data/Hora .: 05/12/2026 09:30:00\r\nEXE .......: " + exe + "\r\nDLL .......: " + exe +
                      "\r\nDatamodule : dmTeste\r\nErro ......: TCreateError\r\nMensagem ..: falhou\r\n");
}

}  // namespace qar::diagnostics
