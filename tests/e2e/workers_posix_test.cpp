// POSIX: script workers supervised, every run recorded, failing requests retried with growing waits, status for every operator.
#include <signal.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "agent_fixture.h"
#include "data/driver_session.h"
#include "platform/environment.h"
#include "state/run_counters.h"
#include "state/state_store.h"
#include "unprivileged_posix.h"

namespace qar::e2e {
namespace {

constexpr int kExitNoAgent = 3, kExitStateUnreadable = 4;  // QarCfg status

class WorkersPosixTest : public AgentCase {
 protected:
  using AgentCase::AgentCase;
  // QarTab.exe becomes a script running `prelude`, then the worker moved to QarTab.bin (exec'd or not).
  void ScriptWorker(const std::string& prelude, bool exec) const {
    std::filesystem::rename(installation_.WorkerPath(), WorkerBinary());
    std::ofstream(installation_.WorkerPath(), std::ios::trunc)
        << "#!/bin/sh\n" << prelude << "\n" << (exec ? "exec " : "") << "\"$(dirname \"$0\")/QarTab.bin\" \"$@\"\n";
    std::filesystem::permissions(installation_.WorkerPath(), std::filesystem::perms::owner_all);
  }
  std::vector<state::TRunRecord> Runs(long long id) const {
    return state::TStateStore::OpenForReading(state::StateStorePath()).RunsOfRequest(id, platform::Now());
  }
  std::size_t EndedRuns(long long id) const {
    const std::vector<state::TRunRecord> runs = Runs(id);
    return std::count_if(runs.begin(), runs.end(), [](const auto& run) { return run.end != state::TRunEnd::kRunning; });
  }
  // QarCfg's JSON; with `exitCode`, the exit code it must end with.
  nlohmann::json Json(const std::vector<std::string>& args, std::optional<int> exitCode = 0) {
    const ToolRun run = RunAdminTool(args);
    if (exitCode) {
      EXPECT_EQ(run.exitCode, exitCode) << run.out << run.err;
    }
    return nlohmann::json::parse(run.out);
  }
  // The agents of the status as (pid, role) of those running, and the pids of those found ended.
  std::pair<std::map<std::uint32_t, std::string>, std::set<std::uint32_t>> Agents() {
    std::pair<std::map<std::uint32_t, std::string>, std::set<std::uint32_t>> agents;
    const nlohmann::json status = Json({"status", "--json"}, std::nullopt);
    for (const auto& agent : status["agents"]) {
      if (agent["running"] == true) agents.first[agent["pid"]] = agent["role"];
      if (!agent["ended"].is_null()) agents.second.insert(agent["pid"].get<std::uint32_t>());
    }
    return agents;
  }
  // This user's processes that run `commandLine`, and the zombies of process `parent`.
  static std::vector<platform::TProcessEntry> Running(const std::string& commandLine) {
    std::vector<platform::TProcessEntry> found;
    for (const platform::TProcessEntry& entry : platform::ListProcesses())
      if (platform::ProcessCommandLine(entry.pid) == commandLine) found.push_back(entry);
    return found;
  }
  static std::size_t Zombies(std::uint32_t parent) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream in(entry.path() / "stat");
      std::string line;
      std::getline(in, line);
      const std::size_t close = line.rfind(')');
      if (close == npos) continue;
      std::istringstream rest(line.substr(close + 1));
      std::string state;
      std::uint32_t ppid = 0;
      rest >> state >> ppid;
      count += state == "Z" && ppid == parent;
    }
    return count;
  }
  bool WaitForSupervised(long long id) {  // the store shows an agent supervising request `id`
    return WaitUntil([&] {
      const nlohmann::json status = Json({"status", "--json"}, std::nullopt);
      for (const auto& agent : status["agents"])
        if (agent["running"] == true && !agent["request"].is_null() && agent["request"]["id"] == std::to_string(id))
          return true;
      return false;
    }, kBound);
  }
};

// A script worker, exec'd or not, outlives a killed agent; the next one supervises it, does
// not start the request again and stops it when it is cancelled.
TEST_F(WorkersPosixTest, ScriptWorkersAreSupervisedCancelledAndStartedOncePerRequestAcrossAnAgentRestart) {
  Sql(JoinStatementLines(kCreateTable));
  for (const bool exec : {true, false}) {
    if (!exec) std::filesystem::rename(WorkerBinary(), installation_.WorkerPath());
    ScriptWorker("echo working", exec);
    HoldWorkers();
    const int id = Request(exec ? "001" : "002", "01");
    ChildProcess& first = StartAgent();
    ASSERT_TRUE(WaitForWorker(id, exec ? "001" : "002", "01")) << AgentLog(agents_.size() - 1);
    ASSERT_EQ(kill(static_cast<pid_t>(first.Pid()), SIGKILL), 0);
    ASSERT_TRUE(first.Wait(kBound));
    StartAgent();
    const std::size_t second = agents_.size() - 1;
    ASSERT_TRUE(WaitForLog("a worker started earlier is running", second)) << AgentLog(second);
    ASSERT_TRUE(WaitForSupervised(id));
    const ToolRun cancel = RunAdminTool({"cancel", std::to_string(id)});
    EXPECT_NE(cancel.out.find("stops its worker within 10 s"), npos) << cancel.out << cancel.err;
    ASSERT_TRUE(WaitForStatus(id, "NOK")) << AgentLog(second);
    EXPECT_TRUE(WaitUntil([&] { return ProcessesOfFile(WorkerBinary()) == 0; }, kBound));
    EXPECT_EQ(WorkerStarts(id, exec ? "001" : "002", "01"), 1u);
    agents_.back()->Stop();
    ASSERT_TRUE(agents_.back()->Wait(kBound));
  }
}

// A worker failing with its row "P" is started again after 2 s, then 4 s, while another
// request runs; the log says how each run ended, with the worker's last output line.
// The other request's worker sets the agent's wall clock (libfaketime) back an hour
// during the first wait: the waits are measured on the steady clock, so it is not stretched.
TEST_F(WorkersPosixTest, ACrashingWorkersRequestIsRetriedWithGrowingWaitsWhileAnotherRequestRuns) {
  const std::string faketime = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  ASSERT_TRUE(std::filesystem::exists(faketime)) << "libfaketime is missing: scripts/install-deps installs it";
  Sql(JoinStatementLines(kCreateTable));
  installation_.ConfigureWorker({"status=OK"});
  const int failing = Request("001", "01");
  const int other = Request("001", "02");
  Sql("UPDATE CTRLEXECREM SET DTINCLUSAO = '2026-12-05 10:00:00'");  // the agent's day, whatever the real one
  const std::string clock = installation_.Dir() + "wallclock";
  std::ofstream(clock) << "@2026-12-05 12:00:00\n";
  ScriptWorker("case \"$1\" in SYNC_" + std::to_string(failing) +
                   "_*) echo 'sem conexao com o servidor'; exit 3;; *) echo '@2026-12-05 11:00:00' > \"" + clock +
                   "\";; esac",
               true);
  const std::map<std::string, std::string> fake{{"LD_PRELOAD", faketime},
                                                {"FAKETIME_TIMESTAMP_FILE", clock},
                                                {"FAKETIME_NO_CACHE", "1"},
                                                {"FAKETIME_DONT_FAKE_MONOTONIC", "1"},
                                                {"ASAN_OPTIONS", platform::GetEnv("ASAN_OPTIONS").value_or("") + ":verify_asan_link_order=0"}};
  std::map<std::string, std::optional<std::string>> saved;
  for (const auto& [name, value] : fake) saved[name] = platform::GetEnv(name), platform::SetEnv(name, value);
  StartAgent();
  for (const auto& [name, value] : saved) value ? platform::SetEnv(name, *value) : platform::UnsetEnv(name);
  ASSERT_TRUE(WaitUntil([&] { return EndedRuns(failing) >= 3; }, kBound)) << AgentLog();
  EXPECT_EQ(Row(failing), "P");
  EXPECT_EQ(Row(other), "OK");
  std::vector<state::TRunRecord> runs = Runs(failing);  // in the order they ran, which the wall clock no longer tells
  std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.startSteady < b.startSteady; });
  const std::vector<state::TRunRecord> others = Runs(other);
  ASSERT_EQ(others.size(), 1u);
  EXPECT_LT(runs[1].started, runs[0].started);  // the wall clock went back an hour between them
  EXPECT_LT(*others[0].startSteady, *runs[1].startSteady);  // the other request did not wait for the retries
  const double first = *runs[1].startSteady - *runs[0].endSteady, second = *runs[2].startSteady - *runs[1].endSteady;
  EXPECT_GE(first, 1.9);
  EXPECT_GE(second, 3.9);
  for (const state::TRunRecord& run : std::vector(runs.begin(), runs.begin() + 3)) {
    EXPECT_EQ(std::pair(run.end, run.code), std::pair(state::TRunEnd::kExited, 3));
    EXPECT_EQ(run.leftPending, false);
    EXPECT_NE(run.output.find("QarTab_" + std::to_string(failing) + "_"), npos) << run.output;
  }
  EXPECT_NE(AgentLog().find("request " + std::to_string(failing) +
                            ": worker ended: exit 3 after 1 s; its last output: sem conexao com o servidor ("),
            npos) << AgentLog();
  EXPECT_NE(AgentLog().find("request " + std::to_string(failing) + ": run 2, started again: the last one ended exit 3"),
            npos) << AgentLog();
  const nlohmann::json list = Json({"list", "--status", "P", "--json"});
  ASSERT_EQ(list["requests"].size(), 1u) << list;
  EXPECT_GE(list["requests"][0]["runs"], 3);
  EXPECT_EQ(list["requests"][0]["lastRun"]["outcome"], "exit");
  const state::TRunTotals totals =
      state::RunTotals(state::TStateStore::OpenForReading(state::StateStorePath()).Counters());
  EXPECT_GE(totals.byOutcome[static_cast<int>(state::TRunOutcome::kFailed)], 3);  // as the metrics count them
  EXPECT_EQ(totals.byOutcome[static_cast<int>(state::TRunOutcome::kOk)], 1);
}

TEST_F(WorkersPosixTest, AKilledWorkersRunIsRecordedWithItsSignalAndItsLastOutputLine) {
  Sql(JoinStatementLines(kCreateTable));
  ScriptWorker("echo 'enviando lote 7'", true);
  HoldWorkers();
  const int id = Request("001", "01");
  StartAgent();
  ASSERT_TRUE(WaitForWorker(id, "001", "01")) << AgentLog();
  for (const platform::TProcessHandle& worker : platform::FindProcessesOfFile(WorkerBinary())) worker.Terminate();
  ASSERT_TRUE(WaitUntil([&] { return EndedRuns(id) >= 1; }, kBound)) << AgentLog();
  const state::TRunRecord run = Runs(id).front();
  EXPECT_EQ(std::pair(run.end, run.code), std::pair(state::TRunEnd::kSignalled, int{SIGKILL}));
  EXPECT_NE(installation_.ReadText("output/" + platform::ExtractFileName(run.output)).find("enviando lote 7"), npos);
  EXPECT_NE(AgentLog().find("worker ended: signal 9 (SIGKILL) after "), npos) << AgentLog();
  EXPECT_NE(AgentLog().find("its last output: enviando lote 7 ("), npos) << AgentLog();
  const nlohmann::json lastRun = Json({"list", "--json"})["requests"].at(0)["lastRun"];
  EXPECT_EQ(lastRun["outcome"], "signal");
  EXPECT_EQ(lastRun["code"], 9);
}

// An operator with another runtime directory sees the agent in the installation's state
// store; odd stored values break neither the readers nor the next agent.
TEST_F(WorkersPosixTest, StatusOfAnotherOperatorSeesTheAgentAndItsExitCodesTellWhetherOneRuns) {
  EXPECT_EQ(RunAdminTool({"status"}).exitCode, kExitNoAgent);
  HoldWorkers();
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  const int id = Request("001", "01");
  ASSERT_TRUE(WaitForWorker(id, "001", "01")) << AgentLog();

  const std::string own = *platform::GetEnv("XDG_RUNTIME_DIR");
  std::filesystem::create_directory(installation_.Dir() + "operator");
  platform::SetEnv("XDG_RUNTIME_DIR", installation_.Dir() + "operator");
  EXPECT_TRUE(WaitForSupervised(id));
  const nlohmann::json status = Json({"status", "--json"});
  platform::SetEnv("XDG_RUNTIME_DIR", own);
  EXPECT_EQ(status["running"], true);
  EXPECT_EQ(status["agents"][0]["pid"], agent.Pid());
  EXPECT_EQ(status["agents"][0]["responding"], true);
  EXPECT_EQ(status["agents"][0]["request"]["id"], std::to_string(id));
  EXPECT_EQ(status["queue"]["running"], 1);
  EXPECT_EQ(status["queue"]["pendingToday"], 0);

  agent.Stop();
  ASSERT_TRUE(agent.Wait(kBound));
  EXPECT_EQ(Json({"status", "--json"}, kExitNoAgent)["leftWorkers"].size(), 1u);

  // Odd values any member of the group can store: the readers keep their exit codes,
  // the next agent adopts the left worker and its request ends as it should.
  {
    std::vector<TDriverParameter> none;
    const auto raw = OpenEmbeddedSqlite(state::StateStorePath());
    const std::string exe = "'" + installation_.AgentPath() + "'";
    raw->Execute("INSERT INTO AGENTS (INSTANCE, PID, USERNAME, EXE, STARTED, LASTPOLL, LASTERROR, LASTERRORAT, REQUEST,"
                 " REQUESTSINCE, WORKERPID, POLLSTEADY, ROLE) VALUES ('odd', -5, x'00ff', " + exe + ", 1e300, 'abc', '',"
                 " 9e999, 'x', -1e300, 1e11, -1, 'chief')", none, std::nullopt);
    raw->Execute("INSERT INTO RUNS (RUNKEY, REQUEST, STARTED, ENDED, OUTCOME, CODE, OUTPUTFILE, NOTE, AGENTPID, AGENTUSER,"
                 " AGENTEXE, WORKERPID, STARTSTEADY) VALUES ('odd/1', " + std::to_string(id) + ", 1e300, 'abc', 'running',"
                 " 1e20, '/dev/zero', '', -1, '', " + exe + ", 4294967296, -1e300)", none, std::nullopt);
  }
  EXPECT_EQ(Json({"status", "--json"}, kExitNoAgent)["running"], false);
  EXPECT_EQ(RunAdminTool({"list", "--json"}).exitCode, 0);
  EXPECT_EQ(RunAdminTool({"metrics"}).exitCode, 0);
  StartAgent();
  EXPECT_TRUE(WaitForSupervised(id)) << AgentLog(1);
  ReleaseWorkers();
  EXPECT_TRUE(WaitForStatus(id, "OK")) << AgentLog(1);
  EXPECT_EQ(Json({"status", "--json"})["running"], true);
  agents_.back()->Stop();
  ASSERT_TRUE(agents_.back()->Wait(kBound));

  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(state::StateStorePath() + suffix);
  std::filesystem::create_directory(state::StateStorePath());  // there, but no database
  const ToolRun unreadable = RunAdminTool({"status"});
  EXPECT_EQ(unreadable.exitCode, kExitStateUnreadable) << unreadable.out << unreadable.err;
  EXPECT_NE(unreadable.out.find("Agent:      not known: State store "), npos) << unreadable.out;
}

// Two agents of one installation: one dispatches, the other stands by, takes over the
// run of the first when it is killed (a cancel it may not carry out leaves the row
// "C" and the worker finishes) and marks its agent ended; a run whose agent and
// worker were both killed is closed by the next agent. Under root the second agent is
// another member of the installation's group (uid and gid 65534), as on a PC several
// users share, the files made for the group as the Debian package makes them; not
// root: a second logon of the same user (one lock per runtime directory).
class TwoAgentsTest : public WorkersPosixTest {
 protected:
  static constexpr unsigned kOther = 65534;
  // Under root, where the other user reaches the installation (the build tree may be private).
  TwoAgentsTest() : WorkersPosixTest(geteuid() == 0 ? ::qar::testing::ReachableScratchDirectory() : platform::TempDirectory()) {}
  void ShareWithGroup() const {  // directories setgid 2770, files with their owner's bits for the group
    std::ofstream(installation_.Dir() + "QarTab.log", std::ios::app);  // where the stand-in worker appends
    for (const auto& entry : std::filesystem::recursive_directory_iterator(installation_.Dir())) Share(entry.path());
    Share(installation_.Dir());
    std::filesystem::permissions(installation_.Dir() + "machine.key", std::filesystem::perms(0640));
  }
  static void Share(const std::filesystem::path& path) {
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
    const mode_t owner = info.st_mode & 0700;
    ASSERT_EQ(chown(path.c_str(), -1, kOther) | chmod(path.c_str(), S_ISDIR(info.st_mode) ? 02770 : owner | owner >> 3), 0) << path;
  }
};

TEST_F(TwoAgentsTest, OneOfTwoAgentsDispatchesAndTheOtherTakesOverItsRunWhenItIsKilled) {
  const bool twoUsers = geteuid() == 0;
  Sql(JoinStatementLines(kCreateTable));
  HoldWorkers();
  if (twoUsers) ShareWithGroup();
  StartAgent();
  ASSERT_TRUE(WaitUntil([&] { return Agents().first.size() == 1; }, kBound)) << AgentLog(0);
  const std::string own = *platform::GetEnv("XDG_RUNTIME_DIR"), second = installation_.Dir() + "second";
  std::filesystem::create_directory(second);
  ASSERT_EQ(twoUsers ? chown(second.c_str(), kOther, kOther) : 0, 0);
  platform::SetEnv("XDG_RUNTIME_DIR", second);
  if (twoUsers) {
    agents_.emplace_back(std::make_unique<ChildProcess>(
        "/usr/bin/setpriv", std::vector<std::string>{"--reuid=65534", "--regid=65534", "--clear-groups", installation_.AgentPath()},
        installation_.Dir(), installation_.Dir() + "agent1"));
  } else {
    StartAgent();
  }
  platform::SetEnv("XDG_RUNTIME_DIR", own);
  const std::map<std::uint32_t, std::string> roles{{agents_[0]->Pid(), "dispatching"}, {agents_[1]->Pid(), "standby"}};
  ASSERT_TRUE(WaitUntil([&] { return Agents().first == roles; }, kBound)) << AgentLog(1);
  struct stat process {};
  ASSERT_EQ(stat(("/proc/" + std::to_string(agents_[1]->Pid())).c_str(), &process), 0);
  EXPECT_EQ(process.st_uid, twoUsers ? kOther : geteuid());
  const int id = Request("001", "01");
  ASSERT_TRUE(WaitForWorker(id, "001", "01")) << AgentLog(0);
  ASSERT_TRUE(WaitForSupervised(id));
  ASSERT_EQ(kill(static_cast<pid_t>(agents_[0]->Pid()), SIGKILL), 0);
  ASSERT_TRUE(WaitForLog("a worker started earlier is running (request " + std::to_string(id), 1)) << AgentLog(1);
  EXPECT_TRUE(WaitUntil([&] { return Agents().second.contains(agents_[0]->Pid()); }, kBound));
  if (twoUsers) {  // root's worker, which the other user's agent may not stop: it finishes its row
    const ToolRun cancel = RunAdminTool({"cancel", std::to_string(id)});
    EXPECT_NE(cancel.out.find("started by an agent of user root) within 10 s if it may"), npos) << cancel.out;
    ASSERT_TRUE(WaitForLog("the cancel cannot stop every process of its worker, started by an agent of user root", 1))
        << AgentLog(1);
    EXPECT_EQ(Row(id), "C");
  }
  ReleaseWorkers();
  ASSERT_TRUE(WaitForStatus(id, "OK"));
  ASSERT_TRUE(WaitUntil([&] { return EndedRuns(id) == 1; }, kBound)) << AgentLog(1);
  EXPECT_EQ(WorkerStarts(id, "001", "01"), 1u);

  HoldWorkers();
  const int left = Request("001", "02");
  ASSERT_TRUE(WaitForWorker(left, "001", "02")) << AgentLog(1);
  ASSERT_TRUE(WaitUntil([&] { return Runs(left).size() == 1 && Runs(left).front().workerPid != 0; }, kBound));
  ASSERT_EQ(kill(static_cast<pid_t>(agents_[1]->Pid()), SIGKILL), 0);
  ASSERT_EQ(kill(static_cast<pid_t>(Runs(left).front().workerPid), SIGKILL), 0);  // maybe the other user's
  StartAgent();
  ASSERT_TRUE(WaitUntil([&] { return EndedRuns(left) == 1; }, kBound)) << AgentLog(2);
  EXPECT_EQ(Runs(left).front().note, state::kRunEndedUnwatched);
  EXPECT_EQ(WorkerStarts(left, "001", "02"), 1u);
}

// A worker that drops its marker and leaves a background child: supervised to its end,
// started once, its cancel ends its whole group; a marked process of no run is ignored
// and logged once; what a worker left behind no longer holds the queue once its row
// left "P"; the agent leaves no zombie.
TEST_F(WorkersPosixTest, AWorkersGroupIsItsRunAndNothingElseHoldsTheQueue) {
  Sql(JoinStatementLines(kCreateTable));
  // The background child every worker leaves, ended with the case however it ends.
  const std::string sleeper = "sleep " + std::to_string(3000 + getpid() % 997);
  const std::shared_ptr<void> endSleepers(nullptr, [&](void*) {
    for (const platform::TProcessEntry& entry : Running(sleeper)) platform::TerminateProcessInstance(entry.pid, entry.start);
  });
  ScriptWorker("unset QARSNC_INSTALLATION QARSNC_REQUEST QARSNC_RUN\n" + sleeper + " &", true);
  std::string marker = "QARSNC_INSTALLATION=" + installation_.Dir();
  marker.pop_back();
  ChildProcess stray("/usr/bin/env", {marker, "sleep", "600"}, installation_.Dir(), installation_.Dir() + "stray");
  HoldWorkers();
  const int cancelled = Request("001", "01");
  StartAgent();
  ASSERT_TRUE(WaitForWorker(cancelled, "001", "01")) << AgentLog();
  ASSERT_TRUE(WaitForLog("pid " + std::to_string(stray.Pid()) + " (sleep 600) is marked as a worker of this "
                         "installation but belongs to none of its runs: ignored")) << AgentLog();
  EXPECT_EQ(RunAdminTool({"cancel", std::to_string(cancelled)}).exitCode, 0);
  ASSERT_TRUE(WaitForStatus(cancelled, "NOK")) << AgentLog();
  EXPECT_TRUE(WaitUntil([&] { return Running(sleeper).empty() && ProcessesOfFile(WorkerBinary()) == 0; }, kBound));
  EXPECT_TRUE(stray.Running());

  ReleaseWorkers();
  installation_.ConfigureWorker({"status=OK"});
  const int first = Request("001", "02"), second = Request("001", "03");
  ASSERT_TRUE(WaitForStatus(second, "OK")) << AgentLog();
  EXPECT_EQ(Row(first), "OK");
  EXPECT_TRUE(WaitUntil([&] { return Occurrences(AgentLog(), "left running by its worker, no longer holds the queue") == 2; },
                        kBound)) << AgentLog();
  EXPECT_EQ(Occurrences(AgentLog(), "belongs to none of its runs: ignored"), 1u);
  EXPECT_EQ(WorkerStarts(cancelled, "001", "01"), 1u);
  EXPECT_EQ(Running(sleeper).size(), 2u);
  EXPECT_EQ(Zombies(agents_[0]->Pid()), 0u);
}

// MaxWorkerRuns counts the runs in the store, also those before a restart; each run's
// output keeps its end, at most MaxWorkerOutput MB with the cut marked, and the log
// quotes its last lines with the password masked.
TEST_F(WorkersPosixTest, MaxWorkerRunsHoldsAcrossARestartAndTheOutputIsCapped) {
  Sql(JoinStatementLines(kCreateTable));
  ASSERT_EQ(RunAdminTool({"set", "MaxWorkerRuns", "3"}).exitCode, 0);
  ASSERT_EQ(RunAdminTool({"set", "MaxWorkerOutput", "1"}).exitCode, 0);
  ScriptWorker("head -c 3000000 /dev/zero | tr '\\0' x; echo; echo 'conectando Password=segredo;'; exit 3", false);
  const int id = Request("001", "01");
  StartAgent();
  ASSERT_TRUE(WaitUntil([&] { return EndedRuns(id) >= 1; }, kBound)) << AgentLog();
  agents_[0]->Stop();
  ASSERT_TRUE(agents_[0]->Wait(kBound));
  StartAgent();
  ASSERT_TRUE(WaitForStatus(id, "NOK")) << AgentLog(1);
  EXPECT_EQ(Runs(id).size(), 3u);
  EXPECT_NE(Row(id, "DSERRO").find("Executado 3 vezes"), npos);
  EXPECT_NE(AgentLog(1).find("conectando Password=*******; ("), npos) << AgentLog(1);
  EXPECT_EQ(AgentLog(1).find("segredo"), npos);
  const std::string output = installation_.ReadText("output/" + platform::ExtractFileName(Runs(id).front().output));
  EXPECT_LE(output.size(), 1u << 20);
  EXPECT_TRUE(output.starts_with("[QarSnc: the first ")) << output.substr(0, 100);
  EXPECT_TRUE(output.ends_with("xxx\nconectando Password=segredo;\n"));
  struct stat info {};
  ASSERT_EQ(stat((installation_.Dir() + "output").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 02770u);
}

}  // namespace
}  // namespace qar::e2e
