// The status page over a control table of 100,000 rows of today, each with a run
// recorded over the last 24 hours: the requests page answered whole (count, page
// query, run summaries, HTML) on the first page and on the last, the overview with
// its chart and /api/status, each in at most 50 ms.
#include <benchmark/benchmark.h>

#include "bench_sandbox.h"
#include "data/ado_connection.h"
#include "platform/datetime.h"
#include "state/control_requests.h"
#include "state/control_table.h"
#include "state/state_store.h"
#include "tools/status_site.h"

namespace qar::tools {
namespace {

using namespace ::qar::state;

constexpr int kRows = 100000;

struct TFixture {
  explicit TFixture(const std::string& dir) : connectionString("Provider=SQLite;Data Source=" + dir + "status.db") {
    TADOConnection db;
    db.SetConnectionString(connectionString);
    db.Execute(JoinStatementLines(kCreateTable));
    CreateControlTableIndexes(db);  // as the agent makes them with the table
    db.Execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kRows) +
               ") INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM, DSERRO)"
               " SELECT 'PDV', 'SYNC', '{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"' || i || '\"}',"
               " CASE WHEN i % 10 = 0 THEN 'NOK' ELSE 'OK' END, CASE WHEN i % 10 = 0 THEN 'timeout' ELSE '' END FROM n");
    db.Close();
    state::TStateStore store = state::TStateStore::OpenForAgent(state::StateStorePath());
    state::TStateUpdate update;
    update.agent.pid = 1;
    update.agent.instance = "bench";
    const platform::TUtcDateTime now = platform::NowUtc();
    for (int i = 1; i <= kRows; ++i) {
      state::TRunRecord run;
      run.key = "bench-" + std::to_string(i);
      run.request = i;
      run.started = now - static_cast<double>(i) / kRows;  // over the chart's 24 hours
      run.ended = run.started + 0.0001;
      run.code = i % 10 == 0 ? 3 : 0;
      run.end = state::TRunEnd::kExited;
      update.runs.push_back(run);
    }
    store.Write(update);
    sources = {connectionString, dir, [] { return std::vector<TLogEntry>(); },
               [] { return std::pair{std::vector<std::string>(), std::vector<std::string>()}; }};
  }
  std::string connectionString;
  TStatusSources sources;
};

TFixture& Fixture() {
  static bench::TBenchSandbox sandbox("qar_status_bench");
  static TFixture fixture(sandbox.Dir());
  return fixture;
}

// Answers `path` with `params` until the benchmark ends; each answer must hold `expected`.
void Serve(benchmark::State& state, const char* path, std::map<std::string, std::string> params, const char* expected) {
  TStatusSite site(Fixture().sources, TServedOrigin{{"127.0.0.1"}, 8470}, "bench-token-0123456789");
  const THttpRequest request{"GET", path, std::move(params), {{"host", "127.0.0.1:8470"}, {"x-qar-token", "bench-token-0123456789"}}};
  for (auto _ : state) {
    const THttpResponse response = site.Handle(request);
    if (response.status != 200 || response.body.find(expected) == std::string::npos) {
      state.SkipWithError("the page is not the expected one");
      break;
    }
    benchmark::DoNotOptimize(response.body.data());
  }
}

void BM_RequestsPage(benchmark::State& state) {
  Serve(state, "/requests", {{"page", std::to_string(state.range(0))}}, "100000 requests today");
}
BENCHMARK(BM_RequestsPage)->Arg(1)->Arg(kRows / 50)->Unit(benchmark::kMillisecond);

void BM_Overview(benchmark::State& state, const char* path, const char* expected) { Serve(state, path, {}, expected); }
BENCHMARK_CAPTURE(BM_Overview, api_status, "/api/status", "\"queue\":{")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Overview, overview_chart, "/", "failed</title>")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qar::tools

int main(int argc, char** argv) { return qar::bench::RunBenchmarks(argc, argv); }
