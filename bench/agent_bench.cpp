// The agent's idle cost: one tick with nothing pending on a small and a large control
// table, and the worker check against a bare walk of the process names.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>

#include "agent/Cli_Sync10000.h"
#include "agent/process_utils.h"
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

void IdleTick(benchmark::State& state, bool withIndex) {
  const std::string file = Database(state.range(0), withIndex);
  platform::SimulatedClock clock(46361.5);
  AgentServices services;
  services.clock = &clock;
  services.connectionString = [file] { return "Provider=SQLite;Data Source=" + file; };
  services.startWatchdog = [] {};
  services.workers = {[] { return false; }, [] {}};
  services.startWorker = [](const std::string&, const std::string&) { return platform::ProcessResult{true, 0, {}}; };
  TfrmSync form(services);
  form.FormCreate();
  for (auto _ : state) form.ProcessPendingOperation();
}

void BM_IdleTick(benchmark::State& state) { IdleTick(state, true); }
void BM_IdleTickWithoutStatusIndex(benchmark::State& state) { IdleTick(state, false); }
BENCHMARK(BM_IdleTick)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IdleTickWithoutStatusIndex)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// The check every tick and every supervision pass makes: this user's processes of
// the agent's worker file, held through pidfds.
void BM_WorkerWatch(benchmark::State& state) {
  const TWorkerWatch workers = WatchWorkers("/opt/qarsnc");
  for (auto _ : state) benchmark::DoNotOptimize(workers.running());
}
BENCHMARK(BM_WorkerWatch)->Unit(benchmark::kMicrosecond);

// The least any check must do: list the processes and read each one's name
// (benchmarks build natively only, so this walks /proc directly).
void BM_BareProcessNameWalk(benchmark::State& state) {
  for (auto _ : state) {
    std::size_t names = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      char path[64];
      std::snprintf(path, sizeof path, "/proc/%s/comm", entry->d_name);
      const int fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char name[64];
      if (read(fd, name, sizeof name) > 0) ++names;
      close(fd);
    }
    closedir(proc);
    benchmark::DoNotOptimize(names);
  }
}
BENCHMARK(BM_BareProcessNameWalk)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qar::agent

BENCHMARK_MAIN();
