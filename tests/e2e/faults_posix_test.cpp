// POSIX: the agent ended by signals, restarted, beside programs of the same names, its database file removed.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "agent_fixture.h"
#include "platform/mutex.h"
#include "state/agent_status.h"

namespace qar::e2e {
namespace {

using FaultsPosixTest = AgentCase;

bool WaitForPublishedRequest(long long id) {  // the agent says it supervises request `id`
  return WaitUntil([&] {
    const auto note = platform::NamedMutex::ReadPublished(state::kAgentMutexName);
    return note && state::ParseAgentStatus(*note).request == std::to_string(id);
  }, kBound);
}

// Killed, or ended by SIGTERM or SIGINT while its worker runs: the worker runs on,
// and each next agent supervises it instead of starting the request again.
TEST_F(FaultsPosixTest, AnAgentEndedWhileItsWorkerRunsLeavesItToTheNextAndItsDatabaseFileRemovedIsNoticed) {
  // A write-ahead log would stay beside the removed file for the next one.
  const RollbackJournalCase journal(installation_);
  Sql(JoinStatementLines(kCreateTable));
  HoldWorkers();
  const int id = Request("001", "02");
  const std::string left = "a worker started earlier is running (request " + std::to_string(id) + ")";
  std::size_t index = 0;
  // HUP asks the service manager for a fresh start (75) or, without one, just ends it; a signal
  // nobody sends to stop it is an error line and 128 + n.
  const int hangup = std::getenv("INVOCATION_ID") ? 75 : 0;
  const struct { int signal; const char* line; int code; } stops[] = {
      {SIGKILL, "", 128 + SIGKILL}, {SIGTERM, "ending (SIGTERM)", 0}, {SIGINT, "ending (SIGINT)", 0},
      {SIGHUP, "ending (SIGHUP)", hangup}, {SIGUSR1, "error: ending (SIGUSR1)", 128 + SIGUSR1}};
  for (const auto& [signal, line, code] : stops) {
    ChildProcess& agent = StartAgent();
    ASSERT_TRUE(index == 0 ? WaitForWorker(id, "001", "02") : WaitForLog(left, index)) << AgentLog(index);
    ASSERT_TRUE(WaitForPublishedRequest(id));
    ASSERT_EQ(kill(static_cast<pid_t>(agent.Pid()), signal), 0);
    ASSERT_TRUE(agent.Wait(kBound));
    EXPECT_EQ(agent.ExitCode(), code) << line;
    EXPECT_NE(AgentLog(index).find(std::string(line) + (*line ? "; the running worker is left to finish" : "")), npos)
        << AgentLog(index);
    EXPECT_EQ(RunningWorkers(), 1u);
    ++index;
  }
  StartAgent();
  ASSERT_TRUE(WaitForLog(left, index)) << AgentLog(index);
  ReleaseWorkers();
  EXPECT_TRUE(WaitForStatus(id, "OK")) << AgentLog(index);
  EXPECT_EQ(WorkerStarts(id, "001", "02"), 1u);

  // Removed under the agent, the database file is noticed; the database the next
  // requester creates at that path is the one the agent reads.
  std::filesystem::remove(installation_.DatabaseFile());
  EXPECT_TRUE(WaitForLog("The database file " + installation_.DatabaseFile() + " was removed or replaced", index));
  const ToolRun enqueued = RunAdminTool({"enqueue", "--filial", "001", "--caixa", "02"});
  ASSERT_EQ(enqueued.exitCode, 0) << enqueued.err;
  EXPECT_TRUE(WaitForStatus(std::stoi(enqueued.out), "OK")) << AgentLog(index);
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
  ASSERT_TRUE(WaitUntil([&] { return ProcessesOfFile(other + "QarSnc.exe") == 1; }, kBound));

  Sql(JoinStatementLines(kCreateTable));
  HoldWorkers();
  ChildProcess& old = StartAgent();
  const int running = Request("001", "01");
  ASSERT_TRUE(WaitForWorker(running, "001", "01")) << AgentLog();
  ASSERT_TRUE(WaitForPublishedRequest(running));
  ChildProcess& restarter = StartAgent({"--restart-agents"});
  EXPECT_TRUE(WaitUntil([&] { return !old.Running() && !restarter.Running(); }, kBound)) << AgentLog(1);
  EXPECT_EQ(restarter.ExitCode(), 0) << AgentLog(1);
  ASSERT_TRUE(WaitUntil([&] { return ProcessesOfFile(installation_.AgentPath()) == 1; }, kBound));  // the new one

  // The new agent supervises the worker the old one left.
  Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = " + std::to_string(running));
  ASSERT_TRUE(WaitForStatus(running, "NOK"));
  EXPECT_TRUE(WaitUntil([&] { return RunningWorkers() == 0; }, kBound));
  installation_.ConfigureWorker({"status=OK"});
  EXPECT_TRUE(WaitForStatus(Request("001", "02"), "OK"));
  EXPECT_EQ(WorkerStarts(running, "001", "01"), 1u);
  // Still running; an exit code would tell how one ended (137: killed).
  for (const auto& process : others) EXPECT_EQ(process->ExitCode(), std::nullopt) << other;
  std::filesystem::remove(other + "hold");
}

}  // namespace
}  // namespace qar::e2e
