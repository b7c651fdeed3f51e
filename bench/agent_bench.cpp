// The agent's idle cost: one tick with nothing pending on a small and a large control
// table, with and without the state store written; and the worker check against a
// bare walk of /proc reading the same files.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>

#include "agent/Cli_Sync10000.h"
#include "agent/process_utils.h"
#include "agent/state_publisher.h"
#include "bench_sandbox.h"
#include "platform/process.h"

namespace qar::agent {
namespace {

// One database per size, filled once: finished rows only, as a long-running
// installation accumulates them.
std::string Database(std::int64_t rows, bool withIndex) {
  const std::string file = "qar_bench_ctrlexecrem_" + std::to_string(rows) + (withIndex ? "" : "_noindex") + ".db";
  static std::map<std::string, bool> ready;
  if (ready[file]) return file;
  std::remove(file.c_str());
  AgentServices services;
  services.connectionString = [file] { return "Provider=SQLite;Data Source=" + file; };
  services.startWatchdog = [] {};
  TfrmSync form(services);
  form.FormCreate();  // creates the table and its status index
  if (!withIndex) form.adcVerifTab.Execute("DROP INDEX IXCTRLEXECREM_STATUS");
  form.adcVerifTab.BeginTrans();
  form.adcVerifTab.Execute(
      "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n LIMIT " + std::to_string(rows) +
      ") INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM) "
      "SELECT 'PDV', 'SYNC', '{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}', "
      "CASE x % 2 WHEN 0 THEN 'OK' ELSE 'NOK' END FROM n");
  form.adcVerifTab.CommitTrans();
  ready[file] = true;
  return file;
}

void IdleTick(benchmark::State& state, bool withIndex, bool withStore = false, bool realWatch = false) {
  const std::string file = Database(state.range(0), withIndex);
  platform::SimulatedClock clock(46361.5);
  AgentServices services;
  services.clock = &clock;
  services.connectionString = [file] { return "Provider=SQLite;Data Source=" + file; };
  services.startWatchdog = [] {};
  services.workers = realWatch ? WatchWorkers("/opt/qarsnc") : TWorkerWatch{[] { return false; }, [] {}};
  services.startWorker = [](const TWorkerStart&) { return platform::ProcessResult{true, 0, {}}; };
  state::TAgentRecord self;
  self.instance = "bench";
  self.exe = "/opt/qarsnc/QarSnc.exe";
  TStatePublisher publisher(state::StateStorePath(), self, clock, [](const std::string& error) {
    std::fprintf(stderr, "%s\n", error.c_str());
  });
  if (withStore) services.polled = [&] { publisher.Polled(); };
  TfrmSync form(services);
  form.FormCreate();
  for (auto _ : state) {
    form.ProcessPendingOperation();
    clock.Advance(std::chrono::milliseconds(2000));  // ticks come 2 s apart
  }
}

void BM_IdleTick(benchmark::State& state) { IdleTick(state, true); }
void BM_IdleTickWithoutStatusIndex(benchmark::State& state) { IdleTick(state, false); }
void BM_IdleTickWithStateStore(benchmark::State& state) { IdleTick(state, true, true); }
BENCHMARK(BM_IdleTick)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IdleTickWithStateStore)->Arg(1000)->Unit(benchmark::kMicrosecond);
// The whole idle tick as the agent runs it: the worker check on the real process
// list, the pending-rows query, and the state store (or not).
void BM_AgentIdleTick(benchmark::State& state) { IdleTick(state, true, false, true); }
void BM_AgentIdleTickWithStateStore(benchmark::State& state) { IdleTick(state, true, true, true); }
BENCHMARK(BM_AgentIdleTick)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AgentIdleTickWithStateStore)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IdleTickWithoutStatusIndex)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// The check every tick and every supervision pass makes: this user's processes of
// the agent's worker file, held through pidfds.
void BM_WorkerWatch(benchmark::State& state) {
  const TWorkerWatch workers = WatchWorkers("/opt/qarsnc");
  for (auto _ : state) benchmark::DoNotOptimize(workers.running());
}
BENCHMARK(BM_WorkerWatch)->Unit(benchmark::kMicrosecond);

// The least the check can do: list the processes, read each one's name, skip other
// users' and read the environment of this user's (benchmarks build natively only,
// so this walks /proc directly).
void BM_BareProcessWalk(benchmark::State& state) {
  static char environment[1 << 16];
  const uid_t uid = getuid();
  for (auto _ : state) {
    std::size_t read = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      char path[64];
      std::snprintf(path, sizeof path, "/proc/%s/comm", entry->d_name);
      int fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char name[64];
      if (::read(fd, name, sizeof name) > 0) ++read;
      close(fd);
      struct stat owner {};
      std::snprintf(path, sizeof path, "/proc/%s", entry->d_name);
      if (stat(path, &owner) != 0 || owner.st_uid != uid) continue;
      std::snprintf(path, sizeof path, "/proc/%s/environ", entry->d_name);
      fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      while (::read(fd, environment, sizeof environment) > 0) ++read;
      close(fd);
    }
    closedir(proc);
    benchmark::DoNotOptimize(read);
  }
}
BENCHMARK(BM_BareProcessWalk)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qar::agent

int main(int argc, char** argv) {
  const qar::bench::TBenchSandbox sandbox("qar_agent_bench");  // the state store goes there
  return qar::bench::RunBenchmarks(argc, argv);
}
