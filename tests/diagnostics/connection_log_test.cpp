// Connection log entries: byte-exact layouts, and when nothing is written.
#include "diagnostics/connection_log.h"

#include <gtest/gtest.h>

#include "diagnostics/log_file_name.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using testing::Golden;

class ConnectionLogTest : public testing::DiagnosticsSandbox {
 protected:
  // An entry for MARIA, calling from CAIXA on PDV01, on a connection of `module` at 14:03:`second`.
  void Write(const char* module, bool designTime, bool socket, const TADOError* error,
             TEventStatus status, int second) {
    TComponent owner;
    owner.SetName(module);
    auto& connection = owner.CreateComponent<TADOConnection>();
    connection.SetConnectionString(connectionString);
    platform::SimulatedClock clock(platform::EncodeDateTime({2026, 12, 5, 14, 3, second, 0}));
    WriteConnectionLogEntry(connection, designTime, socket, "MARIA", "CAIXA", "PDV01", error,
                            status, clock);
  }
  std::string Log(const char* kind) const {
    return LogDir() + ModuleShortName() + "_20261205_" + kind + ".log";
  }
  std::string connectionString =
      "Provider=SQLOLEDB.1;Password=segredo;User ID=sa;Initial Catalog=LOJA;Data Source=SRV01";
};

TEST_F(ConnectionLogTest, MonitoredEntriesFollowLayoutA) {
  MonitorEverybody(1);
  Write("dmVendas", true, true, nullptr, esOK, 27);
  const TADOError refused{"Login failed for user 'sa'.", "28000", 18456};
  Write("dmEstoque", false, false, &refused, esErrorsOccured, 28);
  EXPECT_EQ(ReadFile(Log("Monitor")), Golden("connection_monitor.log"));
  EXPECT_FALSE(Exists(Log("Error")));
}

TEST_F(ConnectionLogTest, OnlyAnUnmonitoredFailureIsWrittenInLayoutB) {
  SetInteger("SqlMonitor", 0);
  SetString("TmpFileDir", LogDir());
  connectionString = "Driver={SQL Server};Server=SRV01;UID=sa;PWD=segredo";
  const TADOError timeout{"Timeout expired", "HYT00", 0};
  Write("dmVendas", false, true, &timeout, esOK, 28);  // no failure: nothing
  Write("dmVendas", false, true, &timeout, esErrorsOccured, 29);
  EXPECT_EQ(ReadFile(Log("Error")), Golden("connection_error.log"));
  EXPECT_EQ(FileNames(LogDir()).size(), 1u);
}

TEST_F(ConnectionLogTest, TheErrorBlockNeedsTheStatusAndAnErrorObject) {
  MonitorEverybody(1);
  const TADOError error{"Timeout expired", "HYT00", 0};
  Write("dm", false, false, nullptr, esErrorsOccured, 1);
  Write("dm", false, false, &error, esOK, 2);
  const std::string log = ReadFile(Log("Monitor"));
  EXPECT_NE(log.find("14:03:02"), std::string::npos);
  EXPECT_EQ(log.find("Erro"), std::string::npos);
  EXPECT_EQ(log.find("Observa"), std::string::npos);
}

TEST_F(ConnectionLogTest, AnEntryThatCannotBeWrittenIsLostSilently) {
  SetInteger("SqlMonitor", 1);
  SetString("TmpFileDir", Dir() + "missing" + platform::kPathDelim);
  Write("dm", false, false, nullptr, esOK, 1);
  EXPECT_FALSE(Exists(Dir() + "missing"));
}

}  // namespace
}  // namespace qar::diagnostics
