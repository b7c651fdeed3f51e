// POSIX: the agent ended by signals, restarted, beside programs of the same names, and with its database file removed.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agent_fixture.h"

namespace qar::e2e {
namespace {

using FaultsPosixTest = AgentCase;

// Killed, or ended by SIGTERM or SIGINT while its worker runs: the worker runs on,
// and each next agent supervises it instead of starting the request again.
TEST_F(FaultsPosixTest, AnAgentEndedWhileItsWorkerRunsLeavesItToTheNextAgentWhichStartsNoSecondOne) {
  table_.CreateTable();
  HoldWorkers();
  const int id = table_.Request(Operation("001", "02"));
  const std::string left = "a worker started earlier is running (request " + std::to_string(id) + ")";
  std::size_t index = 0;
  for (const auto& [signal, name] : {std::pair{SIGKILL, ""}, {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}}) {
    ChildProcess& agent = StartAgent();
    ASSERT_TRUE(index == 0 ? WaitForWorker(Parameter(id, "001", "02")) : WaitForLog(left, index)) << AgentLog(index);
    ASSERT_TRUE(WaitForPublishedRequest(id));
    ASSERT_EQ(kill(static_cast<pid_t>(agent.Pid()), signal), 0);
    ASSERT_TRUE(agent.Wait(kBound).has_value());
    if (signal != SIGKILL) {
      EXPECT_EQ(agent.ExitCode(), 0);
      EXPECT_NE(AgentLog(index).find(std::string("ending (") + name + "); the running worker is left to finish"),
                std::string::npos) << AgentLog(index);
    }
    EXPECT_EQ(RunningWorkers().size(), 1u);
    ++index;
  }
  StartAgent();
  ASSERT_TRUE(WaitForLog(left, index)) << AgentLog(index);
  ReleaseWorkers();
  EXPECT_TRUE(WaitForStatus(id, "OK")) << AgentLog(index);
  EXPECT_EQ(WorkerStarts(Parameter(id, "001", "02")), 1u);
}

// Programs named QarTab.exe and QarSnc.exe of another directory are neither
// supervised, cancelled nor restarted; the restart replaces this installation's
// agent and leaves its running worker to the new one.
TEST_F(FaultsPosixTest, ProgramsOfTheSameNamesElsewhereAreNeitherWatchedNorStoppedByCancellationOrRestart) {
  const std::string other = installation_.Dir() + "other/";
  std::filesystem::create_directory(other);
  std::ofstream(other + "QarTab.cfg") << "hold=" << other << "hold\n";
  std::ofstream(other + "hold") << "hold";
  std::vector<std::unique_ptr<ChildProcess>> others;
  for (const char* name : {"QarTab.exe", "QarSnc.exe"}) {
    std::filesystem::copy_file(installation_.WorkerPath(), other + name);
    others.push_back(std::make_unique<ChildProcess>(other + name, std::vector<std::string>{"SYNC_9_9_9_"}, other,
                                                    other + name));
  }
  ASSERT_TRUE(WaitUntil([&] { return ProcessesOfFile(other + "QarSnc.exe").size() == 1; }, kBound));

  table_.CreateTable();
  HoldWorkers();
  ChildProcess& old = StartAgent();
  const int running = table_.Request(Operation("001", "01"));
  ASSERT_TRUE(WaitForWorker(Parameter(running, "001", "01"))) << AgentLog();
  ASSERT_TRUE(WaitForPublishedRequest(running));
  ChildProcess& restarter = StartAgent({"--restart-agents"});
  EXPECT_TRUE(WaitUntil([&] { return !old.Running() && !restarter.Running(); }, kBound)) << AgentLog(1);
  EXPECT_EQ(restarter.ExitCode(), 0) << AgentLog(1);
  std::vector<std::uint32_t> agents;
  ASSERT_TRUE(WaitUntil([&] { return (agents = ProcessesOfFile(installation_.AgentPath())).size() == 1; }, kBound));
  EXPECT_NE(agents.front(), old.Pid());

  table_.SetStatus(running, "C");  // the new agent supervises the worker the old one left
  ASSERT_TRUE(WaitForStatus(running, "NOK"));
  EXPECT_TRUE(WaitUntil([&] { return RunningWorkers().empty(); }, kBound));
  installation_.ConfigureWorker({"status=OK"});
  const int next = table_.Request(Operation("001", "02"));
  EXPECT_TRUE(WaitForStatus(next, "OK"));
  EXPECT_EQ(WorkerStarts(Parameter(running, "001", "01")), 1u);
  for (const char* name : {"QarTab.exe", "QarSnc.exe"}) {
    ChildProcess& process = *others[name[3] == 'T' ? 0 : 1];
    EXPECT_TRUE(process.Running()) << other << name << " ended with " << process.ExitCode().value_or(-1) << ": "
                                   << installation_.ReadText(std::string("other/") + name + ".err");
  }
  std::filesystem::remove(other + "hold");
}

// Removed under the agent, the file is noticed; the database the next requester
// creates at that path is the one the agent reads.
TEST_F(FaultsPosixTest, ADatabaseFileRemovedUnderTheAgentIsReportedAndTheNewFileIsRead) {
  installation_.ConfigureWorker({"status=OK"});
  StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  std::filesystem::remove(installation_.DatabaseFile());
  EXPECT_TRUE(WaitForLog("The database file " + installation_.DatabaseFile() + " was removed or replaced")) << AgentLog();
  const ToolRun enqueued = RunAdminTool({"enqueue", "--filial", "001", "--caixa", "02"});
  ASSERT_EQ(enqueued.exitCode, 0) << enqueued.err;
  EXPECT_TRUE(WaitForStatus(std::stoi(enqueued.out), "OK")) << AgentLog();
}

}  // namespace
}  // namespace qar::e2e
