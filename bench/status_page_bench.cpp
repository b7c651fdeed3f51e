// The status page's requests page over a control table of 10,000 rows of today, each
// with a recorded run: answered whole (count, page query, run summaries, HTML) by
// the server in at most 50 ms, on the first page and on the last.
#include <benchmark/benchmark.h>

#include "bench_sandbox.h"
#include "data/ado_connection.h"
#include "platform/datetime.h"
#include "state/control_table.h"
#include "state/state_store.h"
#include "tools/status_site.h"

namespace qar::tools {
namespace {

using namespace ::qar::state;

constexpr int kRows = 10000;

struct TFixture {
  explicit TFixture(const std::string& dir) : connectionString("Provider=SQLite;Data Source=" + dir + "status.db") {
    TADOConnection db;
    db.SetConnectionString(connectionString);
    db.Execute(JoinStatementLines(kCreateTable));
    db.Execute(kCreateStatusIndex);
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
      run.started = now - 0.001;
      run.ended = now;
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

void BM_RequestsPage(benchmark::State& state) {
  const TStatusSite site(Fixture().sources, "127.0.0.1", 8470, std::nullopt);
  const THttpRequest request{"GET", "/requests", {{"page", std::to_string(state.range(0))}}, {{"host", "127.0.0.1:8470"}}};
  for (auto _ : state) {
    const THttpResponse response = site.Handle(request);
    if (response.status != 200 || response.body.find("10000 requests today") == std::string::npos) {
      state.SkipWithError("the page is not the expected one");
      break;
    }
    benchmark::DoNotOptimize(response.body.data());
  }
}
BENCHMARK(BM_RequestsPage)->Arg(1)->Arg(kRows / 50)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qar::tools

int main(int argc, char** argv) { return qar::bench::RunBenchmarks(argc, argv); }
