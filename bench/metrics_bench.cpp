// One scrape of the metrics over a state store holding 10^5 recorded runs and a control
// table of a busy day's requests: collected whole (agents, counters, the queue's
// counts, the oldest pending request) and written as text, in under 10 ms median.
#include <benchmark/benchmark.h>

#include "bench_sandbox.h"
#include "data/ado_connection.h"
#include "platform/datetime.h"
#include "state/control_requests.h"
#include "state/control_table.h"
#include "state/run_counters.h"
#include "state/state_store.h"
#include "tools/metrics.h"

namespace qar::tools {
namespace {

constexpr int kRuns = 100000;
constexpr int kRequests = 1000;  // a busy store's day

struct TFixture {
  explicit TFixture(const std::string& dir) {
    sources.connectionString = "Provider=SQLite;Data Source=" + dir + "metrics.db";
    sources.installation = dir;
    TADOConnection db;
    db.SetConnectionString(sources.connectionString);
    db.Execute(state::JoinStatementLines(state::kCreateTable));
    state::CreateControlTableIndexes(db);
    db.Execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kRequests) +
               ") INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM, DSERRO)"
               " SELECT 'PDV', 'SYNC', '{}', CASE WHEN i % 10 = 0 THEN 'P' WHEN i % 7 = 0 THEN 'NOK' ELSE 'OK' END, '' FROM n");
    db.Close();
    state::TStateStore store = state::TStateStore::OpenForAgent(state::StateStorePath());
    const platform::TUtcDateTime now = platform::NowUtc();
    for (int batch = 0; batch < kRuns / 1000; ++batch) {
      state::TStateUpdate update;
      update.agent.pid = 1;
      update.agent.instance = "bench";
      update.agent.exe = dir + "QarSnc.exe";
      for (int i = 1; i <= 1000; ++i) {
        state::TRunRecord run;
        run.key = "bench-" + std::to_string(batch * 1000 + i);
        run.request = batch * 1000 + i;
        run.started = now - 0.001 * i / 1000;
        run.ended = now;
        run.end = state::TRunEnd::kExited;
        run.code = i % 13 == 0 ? 1 : 0;
        run.leftPending = true;
        for (const auto& [name, delta] : state::RunEndCounters(run)) update.counters[name] += delta;
        update.runs.push_back(run);
      }
      store.Write(update);
    }
  }
  TMetricsSources sources;
};

TFixture& Fixture() {
  static bench::TBenchSandbox sandbox("qar_metrics_bench");
  static TFixture fixture(sandbox.Dir());
  return fixture;
}

void BM_Scrape(benchmark::State& state) {
  const TMetricsSources& sources = Fixture().sources;
  for (auto _ : state) {
    const std::string text = FormatMetrics(CollectMetrics(sources));
    if (text.find("qarsnc_worker_run_duration_seconds_count 100000") == std::string::npos) {
      state.SkipWithError("the metrics are not the expected ones");
      break;
    }
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_Scrape)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace qar::tools

int main(int argc, char** argv) { return qar::bench::RunBenchmarks(argc, argv); }
