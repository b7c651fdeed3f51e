// One statement round trip on the embedded SQLite driver, side by side with the bare sqlite3 API
// running the same statement (after translation) prepared once and prepared each time.
//
// Compare in one interleaved run:
//   data_bench.exe --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
//                  --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/named_params.h"
#include "data/session_pool.h"
#include "data/sqlite_dialect.h"

namespace qar {
namespace {

const char* const kCreate =
    "CREATE TABLE CTRLEXECREM (IDCTRLEXECREM INT IDENTITY PRIMARY KEY, "
    "IDSTCTRLEXECREM VARCHAR(3), DTINCLUSAO DATETIME DEFAULT GETDATE())";
const char* const kInsert = "INSERT INTO CTRLEXECREM (IDSTCTRLEXECREM) VALUES ('P')";
const char* const kSelectLines[] = {
    "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM FROM CTRLEXECREM",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
    "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
};
const char* const kUpdate = "UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'P' WHERE IDCTRLEXECREM = :ID";

std::string SelectText() {
  std::string text;
  for (const char* line : kSelectLines) text += std::string(line) + "\r\n";
  return text;
}

// The text the SQLite server runs for a component's statement.
std::string ServerText(const std::string& text) {
  return TranslateTSqlToSqlite(ParseNamedParams(text).text, 0);
}

void Prepare(TADOConnection& connection) {
  ProcessSessionPool().Clear();  // a pooled in-memory database would keep the last case's table
  connection.SetConnectionString("Provider=SQLite;Data Source=:memory:");
  connection.Open();
  connection.Execute(kCreate);
  connection.Execute(kInsert);
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

void BM_Select_Query(benchmark::State& state) {
  TADOConnection connection;
  Prepare(connection);
  std::int64_t seen = 0;
  if (state.range(0) != 0) InstallHandlers(connection, seen);
  TADOQuery query;
  query.SetConnection(&connection);
  for (const char* line : kSelectLines) query.SQL().Add(line);
  query.Parameters().ParamByName("IDCTRLEXECREM").SetValue(1);
  for (auto _ : state) {
    query.Close();
    query.Open();
    benchmark::DoNotOptimize(query.FieldByName("IDSTCTRLEXECREM").AsString());
  }
  benchmark::DoNotOptimize(seen);
}

void BM_Update_Command(benchmark::State& state) {
  TADOConnection connection;
  Prepare(connection);
  std::int64_t seen = 0;
  if (state.range(0) != 0) InstallHandlers(connection, seen);
  TADOCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(kUpdate);
  command.Parameters().ParamByName("ID").SetValue(1);
  for (auto _ : state) benchmark::DoNotOptimize(command.Execute());
  benchmark::DoNotOptimize(seen);
}

// The bare API on its own in-memory database holding the same row.
class Bare {
 public:
  Bare() {
    sqlite3_open(":memory:", &db_);
    for (const char* text : {kCreate, kInsert})
      if (sqlite3_exec(db_, ServerText(text).c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
  }
  ~Bare() { sqlite3_close(db_); }
  sqlite3_stmt* PrepareStatement(const std::string& text) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &statement, nullptr) != SQLITE_OK)
      std::abort();
    return statement;
  }
  // Binds, steps to the end reading every column, resets; returns what it read.
  static std::int64_t Run(sqlite3_stmt* statement) {
    sqlite3_bind_int64(statement, 1, 1);
    std::int64_t read = 0;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      read += sqlite3_column_int64(statement, 0);
      read += sqlite3_column_bytes(statement, 1) + *sqlite3_column_text(statement, 1);
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return read;
  }

 private:
  sqlite3* db_ = nullptr;
};

void BareOnce(benchmark::State& state, const std::string& text) {
  Bare bare;
  sqlite3_stmt* statement = bare.PrepareStatement(ServerText(text));
  for (auto _ : state) benchmark::DoNotOptimize(Bare::Run(statement));
  sqlite3_finalize(statement);
}

void BareEachTime(benchmark::State& state, const std::string& text) {
  Bare bare;
  const std::string serverText = ServerText(text);
  for (auto _ : state) {
    sqlite3_stmt* statement = bare.PrepareStatement(serverText);
    benchmark::DoNotOptimize(Bare::Run(statement));
    sqlite3_finalize(statement);
  }
}

void BM_Select_BarePreparedOnce(benchmark::State& state) { BareOnce(state, SelectText()); }
void BM_Select_BarePreparedEachTime(benchmark::State& state) { BareEachTime(state, SelectText()); }
void BM_Update_BarePreparedOnce(benchmark::State& state) { BareOnce(state, kUpdate); }
void BM_Update_BarePreparedEachTime(benchmark::State& state) { BareEachTime(state, kUpdate); }

BENCHMARK(BM_Select_Query)->Arg(0)->Arg(1)->ArgName("handlers");
BENCHMARK(BM_Select_BarePreparedOnce);
BENCHMARK(BM_Select_BarePreparedEachTime);
BENCHMARK(BM_Update_Command)->Arg(0)->Arg(1)->ArgName("handlers");
BENCHMARK(BM_Update_BarePreparedOnce);
BENCHMARK(BM_Update_BarePreparedEachTime);

}  // namespace
}  // namespace qar

BENCHMARK_MAIN();
