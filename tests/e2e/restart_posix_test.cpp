// The agents' restart on POSIX: "QarSnc.exe --restart-agents" against a running agent.
#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace qar::e2e {
namespace {

using RestartTest = AgentCase;

// Note: like the watchdog's restart, this ends every QarSnc.exe of the user.
TEST_F(RestartTest, TheRestartReplacesTheAgentAndLeavesTheRunningWorkerAlone) {
  ChildProcess& old = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_.ConfigureWorker({"seconds=30"});
  const int running = table_.Request(Operation("001", "01"));
  ASSERT_TRUE(WaitForWorker(Parameter(running, "001", "01"))) << AgentErrors();
  const std::uint32_t worker = installation_.WorkerRuns().back().pid;
  // The worker would report "running"; the row is no longer pending.
  table_.SetStatus(running, "R");

  ChildProcess& restarter = StartAgent({"--restart-agents"});
  // Reaping the old agent as soon as it ends lets the restarter see it gone.
  EXPECT_TRUE(WaitUntil([&] { return !old.Running() && !restarter.Running(); }, 2 * kBound))
      << AgentErrors(1);
  EXPECT_EQ(restarter.ExitCode(), 0) << AgentErrors(1);

  std::vector<std::uint32_t> agents;
  ASSERT_TRUE(WaitUntil([&] { return (agents = ProcessesOfFile(installation_.AgentPath())).size() == 1; },
                        kBound));
  EXPECT_NE(agents.front(), old.Pid());
  EXPECT_TRUE(IsRunning(worker, kWorkerName));

  // The new agent holds "QSYNC" again and dispatches.
  EXPECT_EQ(StartAgent().Wait(kBound), 0);
  installation_.ConfigureWorker({"status=OK"});
  const int next = table_.Request(Operation("001", "02"));
  EXPECT_TRUE(WaitForStatus(next, "OK", 2 * kBound));
  EXPECT_TRUE(IsRunning(worker, kWorkerName));
}

}  // namespace
}  // namespace qar::e2e
