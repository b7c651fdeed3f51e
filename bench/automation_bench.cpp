// The instrumented automation call against a direct DispInvoke of the same method, on a
// module whose connection reaches a SQLite file through the embedded driver or through
// ODBC; tuning on (a call with an identity registers its session), the operator not
// monitored. Beside them, the floor of a registration: a bare insert and delete of one
// row on the same file with the same journal settings, statements prepared once.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "automation/VCLCom.h"
#include "automation/caller_identity.h"
#include "com/dispatch_client.h"
#include "com/type_info.h"
#include "data/ado_query.h"
#include "diagnostics/execute_event.h"
#include "diagnostics/monitor_settings.h"
#include "diagnostics/websrv_key.h"
#include "bench_sandbox.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace {

using namespace qar;

class TdmBench : public TComponent {
 public:
  TdmBench() {
    SetName("dmBench");
    connection.SetConnectionString(connectionString);
    query.SetConnection(&connection);
    query.SQL().Add("SELECT ID, NOME FROM PRODUTO WHERE ID = :ID");
  }
  std::int32_t Soma(std::int32_t a, std::int32_t b) { return a + b; }
  std::string Produto(std::int32_t id) {
    query.Parameters()[0].SetValue(id);
    query.Open();
    std::string name = query.Fields(1).AsString();
    query.Close();
    return name;
  }

  TADOConnection& connection = CreateComponent<TADOConnection>();
  TADOQuery& query = CreateComponent<TADOQuery>();
  static inline std::string connectionString;  // read when a module is made
};

std::string gEmbedded;  // the connection strings of the two drivers to one file
std::string gOdbc;
std::string gFile;

automation::TVCLAutoObjectFactory gBenchFactory = automation::VCLAutoObjectFactoryOf<TdmBench>(
    {TGUID::Parse("{4D5E6F70-8192-43A4-B5C6-D7E8F90A1B24}"), "dmBench", "QarBench.Modulo", ""},
    com::TTypeInfoBuilder<TdmBench>("IdmBench", TGUID::Parse("{4D5E6F70-8192-43A4-B5C6-D7E8F90A1B25}"))
        .Method(1, "Soma", &TdmBench::Soma)
        .Method(2, "Produto", &TdmBench::Produto)
        .Build());

const std::string kIdentity = std::string(automation::kBasicIdentityPrefix) +
                              std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          CAIXA     ";
// «$»: address, host, application and operator; registered with the long statement.
const std::string kExtendedIdentity = std::string(automation::kExtendedIdentityPrefix) +
                                      std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          CAIXA     OPERADOR    ";

struct TBenchCall {
  com::DispId id;
  std::vector<Variant> args;  // in call order
  const std::string* connectionString = &gEmbedded;
};

// Through the automation object: every step of the instrumented call.
void Instrumented(benchmark::State& state, const TBenchCall& call) {
  TdmBench::connectionString = *call.connectionString;
  TComPtr<com::IDispatch> server = com::CreateOleObject("QarBench.Modulo");
  Variant result;
  for (auto _ : state) {
    com::TDispArgs args(call.args);
    if (server->Invoke(call.id, TGUID{}, 0, com::kDispatchMethod, args.Params(), &result, nullptr, nullptr) != 0)
      state.SkipWithError("call failed");
    benchmark::DoNotOptimize(result);
  }
}

// The same method straight through DispInvoke on the module (its connection stays open).
void Direct(benchmark::State& state, const TBenchCall& call) {
  TdmBench::connectionString = *call.connectionString;
  TdmBench module;
  std::vector<Variant> own(call.args);
  Variant result;
  for (auto _ : state) {
    com::TDispArgs args(own);
    if (com::DispInvoke(&module, gBenchFactory.ClassTypeInfo(), call.id, com::kDispatchMethod, args.Params(),
                        &result, nullptr, nullptr) != 0)
      state.SkipWithError("call failed");
    benchmark::DoNotOptimize(result);
  }
}

// What the instrumented call adds on a module whose connection the method uses: the
// connection is closed before every call, so the method connects again.
void DirectReconnecting(benchmark::State& state, const TBenchCall& call) {
  TdmBench::connectionString = *call.connectionString;
  TdmBench module;
  Variant result;
  for (auto _ : state) {
    module.connection.Close();
    com::TDispArgs args(call.args);
    if (com::DispInvoke(&module, gBenchFactory.ClassTypeInfo(), call.id, com::kDispatchMethod, args.Params(),
                        &result, nullptr, nullptr) != 0)
      state.SkipWithError("call failed");
    benchmark::DoNotOptimize(result);
  }
}

// One row inserted and deleted with the bare library, statements prepared once, on the
// benchmark's file with the journal mode and synchronous setting the embedded driver gives it.
void BareInsertDelete(benchmark::State& state) {
  std::string synchronous;
  {
    TADOConnection probe;
    probe.SetConnectionString(gEmbedded);
    TADOQuery query;
    query.SetConnection(&probe);
    query.SQL().Add("PRAGMA synchronous");
    query.Open();
    synchronous = query.Fields(0).AsString();
  }
  sqlite3* db = nullptr;
  sqlite3_open(gFile.c_str(), &db);
  sqlite3_busy_timeout(db, 5000);
  sqlite3_exec(db, ("PRAGMA synchronous=" + synchronous).c_str(), nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* remove = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO SQLWEBTUNNING (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,"
                     " DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE) VALUES (1, 1, '192.168.0.10',"
                     " 'PDV01', 'CAIXA', 'OPERADOR', 'dmBench', 'automation_bench.exe', 'Produto',"
                     " strftime('%Y-%m-%d %H:%M:%f','now','localtime'))", -1, &insert, nullptr);
  sqlite3_prepare_v2(db, "DELETE FROM SQLWEBTUNNING WHERE NRSID = 1", -1, &remove, nullptr);
  if (!insert || !remove) state.SkipWithError(sqlite3_errmsg(db));
  for (auto _ : state) {
    if (!insert || !remove) break;
    if (sqlite3_step(insert) != SQLITE_DONE || sqlite3_step(remove) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_reset(insert);
    sqlite3_reset(remove);
  }
  sqlite3_finalize(insert);
  sqlite3_finalize(remove);
  sqlite3_close(db);
  state.SetLabel("synchronous=" + synchronous);
}
BENCHMARK(BareInsertDelete);

// The monitor of one call, made and destroyed (its three handlers saved and put back).
void MonitorOfOneCall(benchmark::State& state) {
  TdmBench module;
  for (auto _ : state) diagnostics::TExecuteEvent monitor(module.connection);
}
BENCHMARK(MonitorOfOneCall);

const TBenchCall kSoma{1, {20, 22}};
const TBenchCall kSomaWithIdentity{1, {kIdentity, 20, 22}};
const TBenchCall kProduto{2, {2}};
const TBenchCall kProdutoWithIdentity{2, {kExtendedIdentity, 2}};
const TBenchCall kProdutoOdbc{2, {2}, &gOdbc};
const TBenchCall kProdutoOdbcWithIdentity{2, {kExtendedIdentity, 2}, &gOdbc};

BENCHMARK_CAPTURE(Direct, Soma, kSoma);
BENCHMARK_CAPTURE(Instrumented, Soma, kSoma);
BENCHMARK_CAPTURE(Instrumented, SomaWithIdentity, kSomaWithIdentity);
BENCHMARK_CAPTURE(Direct, Produto, kProduto);
BENCHMARK_CAPTURE(DirectReconnecting, Produto, kProduto);
BENCHMARK_CAPTURE(Instrumented, Produto, kProduto);
BENCHMARK_CAPTURE(Instrumented, ProdutoWithIdentity, kProdutoWithIdentity);
BENCHMARK_CAPTURE(Direct, ProdutoOdbc, kProdutoOdbc);
BENCHMARK_CAPTURE(Instrumented, ProdutoOdbc, kProdutoOdbc);
BENCHMARK_CAPTURE(Instrumented, ProdutoOdbcWithIdentity, kProdutoOdbcWithIdentity);

}  // namespace

// Tuning on and the monitor off in a throw-away registry file; the database in a temp directory.
int main(int argc, char** argv) {
  const bench::TBenchSandbox sandbox("qar_automation_bench");
  const std::string& dir = sandbox.Dir();
  {
    platform::RegistryKey key;
    if (key.Open(diagnostics::kWebSrvKey, true) != platform::RegStatus::kOk ||
        key.WriteInteger("TunningID", 1) != platform::RegStatus::kOk ||
        key.WriteInteger("SqlMonitor", 0) != platform::RegStatus::kOk) {
      std::fprintf(stderr, "cannot prepare the settings: %s\n", key.LastError().c_str());
      return 1;
    }
  }
  gFile = dir + "bench.db";
  gEmbedded = "Provider=SQLite;Data Source=" + gFile;
  gOdbc = "Driver=SQLite3;Database=" + gFile;
  {
    TADOConnection admin;
    admin.SetConnectionString(gEmbedded);
    admin.Execute("CREATE TABLE PRODUTO (ID INTEGER PRIMARY KEY, NOME VARCHAR(30))");
    admin.Execute("INSERT INTO PRODUTO VALUES (1, 'Cafe'), (2, 'Cha')");
    admin.Execute("CREATE TABLE SQLWEBTUNNING (NRSID INTEGER, NRAUDSID INTEGER, DSREMOTEADDR, DSREMOTEHOST,"
                  " DSREMOTEAPPL, DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, NRSERVERDID INTEGER,"
                  " DTSTARTDATE DATETIME)");
  }
  if (!diagnostics::IsTunningOn() || diagnostics::IsMonitoredUser("")) return 1;

  return bench::RunBenchmarks(argc, argv);
}
