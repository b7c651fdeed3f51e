// The agent's start-up as an installation meets it: table, single instance, settings, QarCfg.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "agent_fixture.h"
#include "config/GeralQar.h"
#include "platform/secret.h"

namespace qar::e2e {
namespace {

using AgentStartupTest = AgentCase;

TEST_F(AgentStartupTest, FirstStartCreatesTheTableASecondReadsTheSettingsBeforeItEndsAndTheFirstReadsThemOnce) {
  ASSERT_FALSE(table_.TableExists());
  // The worker reports to the first database whatever is stored meanwhile.
  installation_.ConfigureWorker({"status=OK", "connection=" + SqliteConnectionString(installation_.DatabaseFile())});
  ChildProcess& first = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  EXPECT_NE(AgentLog().find(" started, pid " + std::to_string(first.Pid()) + ", settings " +
                            config::SettingsLocation() + ", database Provider=SQLite;Data Source="),
            std::string::npos)
      << AgentLog();
  EXPECT_EQ(StartAgent().Wait(kBound), 0);
  EXPECT_EQ(AgentLog(1), "");
  // Asked for its version or help, it prints them and ends; it takes no other argument.
  for (const auto& [argument, code, output] : {std::tuple{"--version", 0, "out"}, {"--help", 0, "out"}, {"-x", 2, "err"}}) {
    EXPECT_EQ(StartAgent({argument}).Wait(kBound), code) << argument;
    EXPECT_NE(installation_.ReadText("agent" + std::to_string(agents_.size() - 1) + "." + output).find("QarSnc.exe"),
              std::string::npos) << argument;
  }

  // A second start reads and decrypts before it meets the mutex: a value that does
  // not decrypt stops it with a message naming the settings, never quoting them.
  const std::string password = "Password=NotEncrypted42";
  installation_.StoreStringConex("Provider=SQLite;Data Source=plain.db;" + password);
  EXPECT_EQ(StartAgent().Wait(kBound), 1);
  EXPECT_NE(AgentErrors(5).find("in " + config::SettingsLocation() + " does not decrypt"), std::string::npos)
      << AgentLog(5);
  EXPECT_EQ(AgentLog(5).find(password), std::string::npos) << AgentLog(5);

  // The first agent read its settings once and goes on with them.
  const int request = table_.Request(Operation("111", "01"));
  ASSERT_TRUE(WaitForStatus(request, "OK")) << AgentLog();
  EXPECT_TRUE(first.Running());
}

TEST_F(AgentStartupTest, BrokenSettingsStopTheStartAndMissingOnesAreNamedWhileTheAgentRunsOn) {
  const std::string settings = config::SettingsLocation();
  if (settings.ends_with(".reg")) {  // a settings file (POSIX) can be damaged
    const std::string kept = installation_.ReadText("HKLM.reg");
    std::ofstream(settings, std::ios::trunc) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\x\n";
    EXPECT_EQ(StartAgent().Wait(kBound), 1);
    EXPECT_NE(AgentErrors(0).find("the settings in " + settings + " cannot be read: "), std::string::npos)
        << AgentLog(0);
    std::ofstream(settings, std::ios::trunc) << kept;
  }
  installation_.RemoveStringConex();
  ChildProcess& agent = StartAgent();
  // The start's errors (no string, no connect) and then a tick's: the agent still polls.
  const std::size_t last = agents_.size() - 1;
  EXPECT_TRUE(WaitUntil([&] { return std::ranges::count(AgentErrors(last), '\n') >= 3; }, kBound)) << AgentLog(last);
  EXPECT_NE(AgentErrors(last).find("no connection string: " + settings), std::string::npos) << AgentLog(last);
  EXPECT_TRUE(agent.Running());
}

// The QarCfg round trip, on a database whose table is there before the agent starts.
TEST_F(AgentStartupTest, QarCfgStoresTheStringAndTellsWhatTheAgentDoesWhileItRunsEachRowOnce) {
  installation_.RemoveStringConex();
  const std::string password = "Segredo123";
  const ToolRun stored =
      RunAdminTool({"set-connection", SqliteConnectionString(installation_.DatabaseFile()) + ";Password=" + password});
  ASSERT_EQ(stored.exitCode, 0) << stored.out << stored.err;
  const ToolRun shown = RunAdminTool({"show"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("qar.db"), std::string::npos) << shown.out;
  EXPECT_EQ((stored.out + shown.out).find(password), std::string::npos) << stored.out << shown.out;

  table_.CreateTable();
  table_.Execute("INSERT INTO CTRLEXECREM (DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) "
                 "VALUES ('x', 'P', datetime('now', 'localtime', '-1 day'))");  // expired, never run
  HoldWorkers();
  const int a = table_.Request(Operation("001", "01"));
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForWorker(Parameter(a, "001", "01"))) << AgentLog();
  ToolRun status;
  EXPECT_TRUE(WaitUntil([&] {
    status = RunAdminTool({"status"});
    return status.out.find("Supervises: request " + std::to_string(a) + " since ") != std::string::npos;
  }, kBound)) << status.out << status.err;
  EXPECT_NE(status.out.find("Agent:      running, pid " + std::to_string(agent.Pid()) + ", started "),
            std::string::npos) << status.out;
  EXPECT_NE(status.out.find("Pending:    1 today, 1 expired from earlier days"), std::string::npos) << status.out;
  const ToolRun listed = RunAdminTool({"list"});
  EXPECT_NE(listed.out.find("P (running)"), std::string::npos) << listed.out;

  const ToolRun enqueued = RunAdminTool({"enqueue", "--filial", "001", "--caixa", "02"});
  ASSERT_EQ(enqueued.exitCode, 0) << enqueued.err;
  const int c = std::stoi(enqueued.out);
  ReleaseWorkers();
  EXPECT_TRUE(WaitForStatus(a, "OK")) << AgentLog();
  EXPECT_TRUE(WaitForStatus(c, "OK")) << AgentLog();
  EXPECT_EQ(WorkerStarts(Parameter(a, "001", "01")), 1u);
  EXPECT_EQ(WorkerStarts(Parameter(c, "001", "02")), 1u);
  EXPECT_EQ(AgentErrors(), "");
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
