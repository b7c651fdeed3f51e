// The agent's start-up as an installation meets it: table, single instance, connection string.
#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace qar::e2e {
namespace {

using AgentStartupTest = AgentCase;

TEST_F(AgentStartupTest, FirstStartCreatesTheControlTable) {
  ASSERT_FALSE(Table().TableExists());
  ChildProcess& agent = StartAgent();
  EXPECT_TRUE(WaitForTable()) << AgentErrors();
  EXPECT_TRUE(agent.Running());
}

TEST_F(AgentStartupTest, SecondStartEndsAtOnceWithExitCodeZeroAndLeavesTheFirstRunning) {
  ChildProcess& first = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  ChildProcess& second = StartAgent();
  EXPECT_EQ(second.Wait(kStartBound), 0);
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(AgentErrors(1), "");
}

TEST_F(AgentStartupTest, WithTheTablePresentTheAgentStartsWithoutError) {
  Table().CreateTable();
  installation_->ConfigureWorker({"status=OK"});
  ChildProcess& agent = StartAgent();
  // A dispatched row shows that the start-up is over and the ticks run.
  const int id = Table().Request(Operation("001", "02"));
  EXPECT_TRUE(WaitForStatus(id, "OK"));
  EXPECT_EQ(AgentErrors(), "");
  EXPECT_TRUE(agent.Running());
}

TEST_F(AgentStartupTest, WithoutAStoredConnectionStringTheConnectErrorIsReportedAndTheAgentRunsOn) {
  installation_->RemoveConnectionString();
  ChildProcess& agent = StartAgent();
  // The start's error and then a tick's: the agent is still polling.
  EXPECT_TRUE(WaitUntil([&] {
    const std::string errors = AgentErrors();
    return errors.find('\n') != std::string::npos && errors.find('\n') + 1 < errors.size();
  }, kStartBound)) << AgentErrors();
  EXPECT_NE(AgentErrors().find(" QarSnc.exe: "), std::string::npos) << AgentErrors();
  EXPECT_TRUE(agent.Running());
}

TEST_F(AgentStartupTest, AStoredValueThatDoesNotDecryptStopsTheStartWithAMessage) {
  const std::string password = "Password=NotEncrypted42";
  installation_->StoreRawConnectionValue("Provider=SQLite;Data Source=plain.db;" + password);
  ChildProcess& agent = StartAgent();
  const std::optional<int> code = agent.Wait(kStartBound);
  ASSERT_TRUE(code.has_value());
  EXPECT_NE(*code, 0);
  const std::string errors = AgentErrors();
  EXPECT_NE(errors.find(" QarSnc.exe: "), std::string::npos) << errors;
  // The stored text may be a password in the clear: it is never repeated.
  EXPECT_EQ(errors.find(password), std::string::npos) << errors;
}

TEST_F(AgentStartupTest, TheConnectionStringIsReadOncePerProcess) {
  const std::string other = installation_->DatabaseFile("other.db");
  const CtrlExecRemClient otherTable(installation_->ConnectionStringFor(other));
  otherTable.CreateTable();
  // The worker reports to the first database whatever is stored meanwhile.
  installation_->ConfigureWorker(
      {"status=OK", "connection=" + installation_->ConnectionStringFor(installation_->DatabaseFile())});
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();

  installation_->StoreConnectionString(installation_->ConnectionStringFor(other));
  const int inOther = otherTable.Request(Operation("222", "02"));
  const int first = Table().Request(Operation("111", "01"));
  ASSERT_TRUE(WaitForStatus(first, "OK")) << AgentErrors();
  // One more row through the first database: ticks went by after the other
  // database had its row, and none of them looked there.
  const int second = Table().Request(Operation("111", "03"));
  ASSERT_TRUE(WaitForStatus(second, "OK")) << AgentErrors();
  EXPECT_EQ(WorkerStarts(Parameter(inOther, "222", "02")), 0u);
  EXPECT_EQ(otherTable.Read(inOther).status, "P");
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
