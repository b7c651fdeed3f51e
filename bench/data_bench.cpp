// One statement round trip on the embedded SQLite driver, with and without connection handlers installed.
#include <benchmark/benchmark.h>

#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"

namespace qar {
namespace {

void Prepare(TADOConnection& connection) {
  connection.SetConnectionString("Provider=SQLite;Data Source=:memory:");
  connection.Open();
  connection.Execute("CREATE TABLE CTRLEXECREM (IDCTRLEXECREM INT IDENTITY PRIMARY KEY, "
                     "IDSTCTRLEXECREM VARCHAR(3), DTINCLUSAO DATETIME DEFAULT GETDATE())");
  connection.Execute("INSERT INTO CTRLEXECREM (IDSTCTRLEXECREM) VALUES ('P')");
}

void InstallHandlers(TADOConnection& connection, std::int64_t& seen) {
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [&seen](TADOConnection&, std::string& text, TCursorType&, TADOLockType&, TCommandType&,
              TExecuteOptions&, TEventStatus&, TADOCommandObject*, TCustomADODataSet*) {
        seen += static_cast<std::int64_t>(text.size());
      });
  connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(
      [&seen](TADOConnection&, std::int64_t, const TADOError*, TEventStatus& status,
              TADOCommandObject*, TCustomADODataSet*) { seen += status; });
}

void RowById(benchmark::State& state, bool handlers) {
  TADOConnection connection;
  Prepare(connection);
  std::int64_t seen = 0;
  if (handlers) InstallHandlers(connection, seen);
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT IDCTRLEXECREM, IDSTCTRLEXECREM FROM CTRLEXECREM");
  query.SQL().Add(" WHERE IDCTRLEXECREM = :IDCTRLEXECREM");
  query.SQL().Add("   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)");
  query.Parameters().ParamByName("IDCTRLEXECREM").SetValue(1);
  for (auto _ : state) {
    query.Close();
    query.Open();
    benchmark::DoNotOptimize(query.FieldByName("IDSTCTRLEXECREM").AsString());
  }
  benchmark::DoNotOptimize(seen);
}

void BM_QueryRoundTripWithoutHandlers(benchmark::State& state) { RowById(state, false); }
void BM_QueryRoundTripWithHandlers(benchmark::State& state) { RowById(state, true); }

void BM_CommandRoundTrip(benchmark::State& state) {
  TADOConnection connection;
  Prepare(connection);
  std::int64_t seen = 0;
  if (state.range(0) != 0) InstallHandlers(connection, seen);
  TADOCommand command;
  command.SetConnection(&connection);
  command.SetCommandText("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'P' WHERE IDCTRLEXECREM = :ID");
  command.Parameters().ParamByName("ID").SetValue(1);
  for (auto _ : state) benchmark::DoNotOptimize(command.Execute());
  benchmark::DoNotOptimize(seen);
}

BENCHMARK(BM_QueryRoundTripWithoutHandlers);
BENCHMARK(BM_QueryRoundTripWithHandlers);
BENCHMARK(BM_CommandRoundTrip)->Arg(0)->Arg(1)->ArgName("handlers");

}  // namespace
}  // namespace qar

BENCHMARK_MAIN();
