// The agent's start-up as an installation meets it: table, single instance, connection string, QarCfg.
#include <gtest/gtest.h>

#include <algorithm>

#include "agent_fixture.h"
#include "platform/secret.h"

namespace qar::e2e {
namespace {

using AgentStartupTest = AgentCase;

TEST_F(AgentStartupTest, FirstStartCreatesTheTableASecondEndsAtOnceAndTheConnectionStringIsReadOncePerProcess) {
  ASSERT_FALSE(table_.TableExists());
  const CtrlExecRemClient otherTable(SqliteConnectionString(installation_.DatabaseFile("other.db")));
  otherTable.CreateTable();
  // The worker reports to the first database whatever is stored meanwhile.
  installation_.ConfigureWorker({"status=OK", "connection=" + SqliteConnectionString(installation_.DatabaseFile())});
  ChildProcess& first = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  EXPECT_EQ(StartAgent().Wait(kBound), 0);
  EXPECT_EQ(AgentErrors(1), "");

  installation_.StoreStringConex(
      platform::EncryptSecret(SqliteConnectionString(installation_.DatabaseFile("other.db"))));
  const int inOther = otherTable.Request(Operation("222", "02"));
  const int request = table_.Request(Operation("111", "01"));
  ASSERT_TRUE(WaitForStatus(request, "OK")) << AgentErrors();
  // One more row through the first database: ticks went by after the other
  // database had its row, and none of them looked there.
  const int next = table_.Request(Operation("111", "03"));
  ASSERT_TRUE(WaitForStatus(next, "OK")) << AgentErrors();
  EXPECT_EQ(WorkerStarts(Parameter(inOther, "222", "02")), 0u);
  EXPECT_EQ(otherTable.Read(inOther).status, "P");
  EXPECT_TRUE(first.Running());
}

TEST_F(AgentStartupTest, WithoutAStoredConnectionStringTheConnectErrorIsReportedAndTheAgentRunsOn) {
  installation_.RemoveStringConex();
  ChildProcess& agent = StartAgent();
  // The start's error and then a tick's: the agent is still polling.
  std::string errors;
  EXPECT_TRUE(WaitUntil([&] { return std::ranges::count(errors = AgentErrors(), '\n') >= 2; }, kBound)) << errors;
  EXPECT_NE(errors.find(" QarSnc.exe: "), std::string::npos) << errors;
  EXPECT_TRUE(agent.Running());
}

TEST_F(AgentStartupTest, AStoredValueThatDoesNotDecryptStopsTheStartWithAMessage) {
  const std::string password = "Password=NotEncrypted42";
  installation_.StoreStringConex("Provider=SQLite;Data Source=plain.db;" + password);
  const std::optional<int> code = StartAgent().Wait(kBound);
  ASSERT_TRUE(code.has_value());
  EXPECT_NE(*code, 0);
  const std::string errors = AgentErrors();
  EXPECT_NE(errors.find(" QarSnc.exe: "), std::string::npos) << errors;
  // The stored text may be a password in the clear: it is never repeated.
  EXPECT_EQ(errors.find(password), std::string::npos) << errors;
}

// The QarCfg round trip, on a database whose table is there before the agent starts.
TEST_F(AgentStartupTest, WithTheStringQarCfgStoredAndTheTablePresentTheAgentStartsCleanAndRunsEachRowOnce) {
  installation_.RemoveStringConex();
  const std::string password = "Segredo123";
  const ToolRun stored =
      RunAdminTool({"set-connection", SqliteConnectionString(installation_.DatabaseFile()) + ";Password=" + password});
  ASSERT_EQ(stored.exitCode, 0) << stored.out << stored.err;
  EXPECT_EQ(stored.out.find(password), std::string::npos) << stored.out;
  const ToolRun shown = RunAdminTool({"show"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("StringConex"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("qar.db"), std::string::npos) << shown.out;
  EXPECT_EQ(shown.out.find(password), std::string::npos) << shown.out;

  table_.CreateTable();
  installation_.ConfigureWorker({"status=OK"});
  const int a = table_.Request(Operation("001", "01"));
  const int b = table_.Request(Operation("002", "01"));
  ChildProcess& agent = StartAgent();
  const ToolRun enqueued = RunAdminTool({"enqueue", "--filial", "001", "--caixa", "02"});
  ASSERT_EQ(enqueued.exitCode, 0) << enqueued.err;
  const int c = std::stoi(enqueued.out.substr(enqueued.out.find_first_of("0123456789")));
  EXPECT_TRUE(WaitForStatus(a, "OK", 3 * kBound)) << AgentErrors();
  EXPECT_TRUE(WaitForStatus(b, "OK", 3 * kBound)) << AgentErrors();
  EXPECT_TRUE(WaitForStatus(c, "OK", 3 * kBound)) << AgentErrors();
  EXPECT_EQ(WorkerStarts(Parameter(a, "001", "01")), 1u);
  EXPECT_EQ(WorkerStarts(Parameter(b, "002", "01")), 1u);
  EXPECT_EQ(WorkerStarts(Parameter(c, "001", "02")), 1u);
  EXPECT_EQ(AgentErrors(), "");
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
