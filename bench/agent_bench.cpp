// The agent's idle cost: one tick with nothing pending on a small and a large control
// table, with and without the state store written. Holding no run, a tick looks at
// no process (worker_watch_bench measures a look).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "agent/Cli_Sync10000.h"
#include "agent/worker_watch.h"
#include "agent/state_publisher.h"
#include "bench_sandbox.h"
#include "platform/process.h"

namespace qar::agent {
namespace {

// A table without the indexes the agent makes, as a database server's may be.
void DropIndexes(TfrmSync& form) {
  for (const char* index : {"IXCTRLEXECREM_STATUS", "IXCTRLEXECREM_STATUS_DIA", "IXCTRLEXECREM_CANCELADO"})
    form.adcVerifTab.Execute(std::string("DROP INDEX IF EXISTS ") + index);
}

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
  form.FormCreate();  // creates the table and its indexes
  if (!withIndex) DropIndexes(form);
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

void IdleTick(benchmark::State& state, bool withIndex, bool withStore = false) {
  const std::string file = Database(state.range(0), withIndex);
  platform::SimulatedClock clock(46361.5);
  AgentServices services;
  services.clock = &clock;
  services.connectionString = [file] { return "Provider=SQLite;Data Source=" + file; };
  services.startWatchdog = [] {};
  services.workers = SystemWorkers("/opt/qarsnc");
  state::TAgentRecord self;
  self.instance = "bench";
  self.exe = "/opt/qarsnc/QarSnc.exe";
  TStatePublisher publisher(state::StateStorePath(), self, clock, [](const std::string& error) {
    std::fprintf(stderr, "%s\n", error.c_str());
  });
  if (withStore) services.polled = [&] { publisher.Polled(); };
  TfrmSync form(services);
  form.FormCreate();
  if (!withIndex) DropIndexes(form);  // the agent's start made its readers' indexes again
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
BENCHMARK(BM_IdleTickWithoutStatusIndex)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qar::agent

int main(int argc, char** argv) {
  const qar::bench::TBenchSandbox sandbox("qar_agent_bench");  // the state store goes there
  return qar::bench::RunBenchmarks(argc, argv);
}
