// Connection log entries: byte-exact layouts, where they go, and concurrent writers.
#include "diagnostics/connection_log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "diagnostics/log_file_name.h"
#include "diagnostics_sandbox.h"
#include "platform/clock.h"

namespace qar::diagnostics {
namespace {

using testing::Golden;

platform::TDateTime At(int hour, int minute, int second) {
  return platform::EncodeDateTime({2026, 12, 5, hour, minute, second, 0});
}

class ConnectionLogTest : public testing::DiagnosticsSandbox {
 protected:
  static ConnectionLogEvent Event(std::string owner) {
    ConnectionLogEvent event;
    event.connectionString =
        "Provider=SQLOLEDB.1;Password=segredo;User ID=sa;Initial Catalog=LOJA;Data Source=SRV01";
    event.ownerName = std::move(owner);
    event.operatorName = "MARIA";
    event.application = "CAIXA";
    event.host = "PDV01";
    return event;
  }
  static ConnectionLogEvent Failed(ConnectionLogEvent event, std::string description) {
    event.status = kEventStatusErrorsOccurred;
    event.errorDescription = std::move(description);
    return event;
  }
  std::string MonitorLog() const {
    return ComposeLogFileName(LogDir(), ModuleShortName(), At(12, 0, 0), 1, "MARIA", "CAIXA",
                              "PDV01", false);
  }
  std::string ErrorLog() const {
    return ComposeLogFileName(LogDir(), ModuleShortName(), At(12, 0, 0), 1, "", "", "", true);
  }
  platform::SimulatedClock clock_{At(14, 3, 27)};
};

TEST_F(ConnectionLogTest, MonitoredEntriesFollowLayoutAByteForByte) {
  MonitorEverybody(1);
  ConnectionLogEvent first = Event("dmVendas");
  first.designTimeConnected = true;
  first.viaSocketServer = true;
  WriteConnectionLogEntry(first, clock_);
  clock_.Set(At(14, 3, 28));
  WriteConnectionLogEntry(Failed(Event("dmEstoque"), "Login failed for user 'sa'."), clock_);

  EXPECT_EQ(ReadFile(MonitorLog()), Golden("connection_monitor.log"));
  EXPECT_FALSE(Exists(ErrorLog()));
}

TEST_F(ConnectionLogTest, AnUnmonitoredFailureFollowsLayoutBInTheErrorLog) {
  SetInteger("SqlMonitor", 0);
  SetString("TmpFileDir", LogDir());
  ConnectionLogEvent event = Failed(Event("dmVendas"), "Timeout expired");
  event.connectionString = "Driver={SQL Server};Server=SRV01;UID=sa;PWD=segredo";
  event.viaSocketServer = true;
  clock_.Set(At(14, 3, 29));
  WriteConnectionLogEntry(event, clock_);

  EXPECT_EQ(ReadFile(ErrorLog()), Golden("connection_error.log"));
  EXPECT_EQ(FileNames(LogDir()), std::vector<std::string>{ModuleShortName() + "_20261205_Error.log"});
}

TEST_F(ConnectionLogTest, AnUnmonitoredSuccessWritesNothing) {
  SetInteger("SqlMonitor", 2);
  SetString("SqlMonUser", "PEDRO");
  SetString("TmpFileDir", LogDir());
  WriteConnectionLogEntry(Event("dmVendas"), clock_);
  EXPECT_TRUE(FileNames(LogDir()).empty());
}

TEST_F(ConnectionLogTest, ObservationsAndErrorAppearOnlyWhenTheyApply) {
  const ConnectionLogEvent plain = Event("dm");
  const std::string withoutAnything = ComposeConnectionLogEntry(plain, true, "10:00:00");
  EXPECT_EQ(withoutAnything.find("Observa"), std::string::npos);
  EXPECT_EQ(withoutAnything.find("Erro: "), std::string::npos);

  ConnectionLogEvent noErrorObject = plain;
  noErrorObject.status = kEventStatusErrorsOccurred;
  EXPECT_EQ(ComposeConnectionLogEntry(noErrorObject, false, "10:00:00").find("Erro: "),
            std::string::npos);

  // A description without the errors-occurred status is not an error.
  ConnectionLogEvent okWithDescription = plain;
  okWithDescription.errorDescription = "ignored";
  EXPECT_EQ(ComposeConnectionLogEntry(okWithDescription, true, "10:00:00"), withoutAnything);

  ConnectionLogEvent designTime = plain;
  designTime.designTimeConnected = true;
  const std::string text = ComposeConnectionLogEntry(designTime, true, "10:00:00");
  EXPECT_NE(text.find("Observa\xE7\xF5" "es: \r\n- Componente de conex\xE3o conectado em tempo de "
                      "projeto.\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("Socket Server"), std::string::npos);
}

TEST_F(ConnectionLogTest, AnEntryThatCannotBeWrittenIsLostSilently) {
  SetInteger("SqlMonitor", 1);
  SetString("TmpFileDir", Dir() + "missing" + platform::kPathDelim + "dir");
  EXPECT_NO_THROW(WriteConnectionLogEntry(Event("dm"), clock_));
  EXPECT_FALSE(Exists(Dir() + "missing"));
}

TEST_F(ConnectionLogTest, HostileCallerIdentitiesNeverLeaveTheLogDirectory) {
  MonitorEverybody(4);
  ConnectionLogEvent event = Event("dm");
  event.operatorName = "..\\..\\x";
  event.application = "a/b";
  event.host = "c:d\x01" "e\x01";
  WriteConnectionLogEntry(event, clock_);
  EXPECT_EQ(FileNames(LogDir()),
            std::vector<std::string>{ModuleShortName() + "_c_d_e_a_b_.._.._x_20261205_Monitor.log"});
  std::vector<std::string> besideTheLogs = FileNames(Dir());
  std::erase(besideTheLogs, "HKLM.reg");  // the POSIX registry file
  EXPECT_EQ(besideTheLogs, std::vector<std::string>{"logs"});
}

// Eight threads append to one log: every entry arrives whole and none is lost.
TEST_F(ConnectionLogTest, ConcurrentEntriesToOneLogStayWholeAndComplete) {
  MonitorEverybody(1);
  constexpr int kThreads = 8;
  constexpr int kEntriesPerThread = 50;
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        platform::SimulatedClock clock(At(14, 3, 27));
        for (int i = 0; i < kEntriesPerThread; ++i) {
          WriteConnectionLogEntry(Event("dm" + std::to_string(t) + "_" + std::to_string(i)), clock);
        }
      });
    }
  }
  const std::string log = ReadFile(MonitorLog());
  const std::string banner = std::string(90, '=') + "\r\n";
  std::vector<std::string> entries;
  for (std::size_t pos = 0; pos < log.size();) {
    ASSERT_EQ(log.compare(pos, banner.size(), banner), 0) << "entry broken at byte " << pos;
    std::size_t next = log.find(banner, pos + banner.size());
    if (next == std::string::npos) next = log.size();
    entries.push_back(log.substr(pos, next - pos));
    pos = next;
  }
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kEntriesPerThread));
  std::vector<std::string> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEntriesPerThread; ++i) {
      expected.push_back(ComposeConnectionLogEntry(
          Event("dm" + std::to_string(t) + "_" + std::to_string(i)), true, "14:03:27"));
    }
  }
  std::sort(entries.begin(), entries.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries, expected);
}

}  // namespace
}  // namespace qar::diagnostics
