// Diagnostics costs: SQL normalisation, password masking, log names, log entries, the monitor.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "data/ado_command.h"
#include "diagnostics/connection_log.h"
#include "diagnostics/execute_event.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/mask_password.h"
#include "diagnostics/monitor_settings.h"
#include "diagnostics/replace_named_params.h"
#include "diagnostics/websrv_key.h"
#include "platform/clock.h"
#include "bench_sandbox.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace {

using namespace qar;
using namespace qar::diagnostics;

constexpr std::size_t kStatementSize = 4096;

// A statement of about 4 KiB: markers, literals with colons, a doubled colon.
std::string Statement() {
  const std::string piece =
      "update PEDIDO set SITUACAO = :SITUACAO, OBS = 'hora: 10:30', VALOR = :VALOR::money "
      "where ID = :ID and LOJA = :\"COD LOJA\"\r\n";
  std::string text;
  while (text.size() + piece.size() <= kStatementSize) text += piece;
  text.append(kStatementSize - text.size(), ' ');
  return text;
}

// A connection string of about 4 KiB with a few passwords in it.
std::string LongConnectionString() {
  const std::string piece =
      "Provider=SQLOLEDB.1;Password=segredo;User ID=sa;Initial Catalog=LOJA;Data Source=SRV01;"
      "Extended Properties=\"DSN=x;PWD=y\";Application Name=QarSnc;Workstation ID=PDV01;";
  std::string text;
  while (text.size() + piece.size() <= kStatementSize) text += piece;
  text.append(kStatementSize - text.size(), 'x');
  return text;
}

void BM_ReplaceNamedParams4KiB(benchmark::State& state) {
  const std::string text = Statement();
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceNamedParams(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReplaceNamedParams4KiB);

void BM_MaskPassword4KiB(benchmark::State& state) {
  const std::string text = LongConnectionString();
  for (auto _ : state) benchmark::DoNotOptimize(MaskPassword(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_MaskPassword4KiB);

void BM_BuildLogFileName(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(BuildLogFileName(4, "MARIA", "CAIXA", "LOJA01-PC", false));
  }
}
BENCHMARK(BM_BuildLogFileName);

ConnectionLogEvent Event() {
  ConnectionLogEvent event;
  event.connectionString =
      "Provider=SQLOLEDB.1;Password=segredo;User ID=sa;Initial Catalog=LOJA;Data Source=SRV01";
  event.ownerName = "dmVendas";
  event.operatorName = "MARIA";
  event.application = "CAIXA";
  event.host = "PDV01";
  return event;
}

// One whole connection log entry: settings, name, masking, layout, open/append/close.
void BM_ConnectionLogEntry(benchmark::State& state) {
  const ConnectionLogEvent event = Event();
  for (auto _ : state) WriteConnectionLogEntry(event);
  state.SetBytesProcessed(static_cast<std::int64_t>(
      state.iterations() * ComposeConnectionLogEntry(event, true, "14:03:27").size()));
}
BENCHMARK(BM_ConnectionLogEntry);

// The floor of an entry: a bare open(O_APPEND), write and close of the same bytes.
void BareAppend(benchmark::State& state, const std::string& path, const std::string& bytes) {
  const std::string name = platform::ToNativePath(path).string();
  for (auto _ : state) {
    const int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      state.SkipWithError("cannot append to the log");
      break;
    }
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_BareAppendOfAConnectionEntry(benchmark::State& state) {
  BareAppend(state, BuildLogFileName(SqlMonitorLevel(), "MARIA", "CAIXA", "PDV01", false),
             ComposeConnectionLogEntry(Event(), true, "14:03:27"));
}
BENCHMARK(BM_BareAppendOfAConnectionEntry);

// A data module's connection with the statement of the monitor's example.
struct Vendas {
  explicit Vendas(const char* connectionString) {
    module.SetName("dmVendas");
    connection.SetConnectionString(connectionString);
    connection.Execute("CREATE TABLE PEDIDO (ID INTEGER PRIMARY KEY, SITUACAO VARCHAR(1))");
    connection.Execute("INSERT INTO PEDIDO VALUES (42, 'A')");
    update.SetConnection(&connection);
    update.SetCommandText("update PEDIDO set SITUACAO = :SITUACAO where ID = :ID");
    update.Parameters().ParamByName("SITUACAO").SetValue("F");
    update.Parameters().ParamByName("ID").SetValue(42);
  }
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  TADOCommand& update = module.CreateComponent<TADOCommand>();
};

ClientIdentity Caller(const char* operatorName) { return {operatorName, "PDV01", "CAIXA", "GravaPedido"}; }

// The statement on an in-memory database, with a monitor for an operator who is not
// monitored (range 1) and without a monitor (range 0).
void BM_StatementOnMemoryDatabase(benchmark::State& state) {
  Vendas vendas("Provider=SQLite;Data Source=:memory:");
  std::optional<TExecuteEvent> monitor;
  if (state.range(0) != 0) monitor.emplace(vendas.connection).Identity() = Caller("PEDRO");
  for (auto _ : state) benchmark::DoNotOptimize(vendas.update.Execute());
}
BENCHMARK(BM_StatementOnMemoryDatabase)->Arg(0)->Arg(1);

// One before-execution entry of a monitored operator, as the connection raises it.
void BeforeExecution(TExecuteEvent& monitor, TADOCommand& update) {
  std::string text = update.CommandObject().CommandText();
  TCursorType cursor = ctUnspecified;
  TADOLockType lock = ltUnspecified;
  TCommandType type = cmdText;
  TExecuteOptions options = 0;
  TEventStatus status = esOK;
  monitor.HandleWillExecute(monitor.Connection(), text, cursor, lock, type, options, status,
                            &update.CommandObject(), nullptr);
}

void BM_BeforeExecutionEntry(benchmark::State& state) {
  Vendas vendas("Provider=SQLite;Data Source=:memory:");
  TExecuteEvent monitor(vendas.connection);
  monitor.Identity() = Caller("MARIA");
  for (auto _ : state) BeforeExecution(monitor, vendas.update);
}
BENCHMARK(BM_BeforeExecutionEntry);

// The same bytes, as one entry adds them to the log.
void BM_BareAppendOfABeforeExecutionEntry(benchmark::State& state) {
  const std::string log = BuildLogFileName(SqlMonitorLevel(), "MARIA", "CAIXA", "PDV01", false);
  auto read = [&] {
    std::ifstream in(platform::ToNativePath(log), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::size_t before = read().size();
  {
    Vendas vendas("Provider=SQLite;Data Source=:memory:");
    TExecuteEvent monitor(vendas.connection);
    monitor.Identity() = Caller("MARIA");
    BeforeExecution(monitor, vendas.update);
  }
  BareAppend(state, log, read().substr(before));
}
BENCHMARK(BM_BareAppendOfABeforeExecutionEntry);

}  // namespace

// The settings come from a throw-away registry file; the logs go to a temp directory.
int main(int argc, char** argv) {
  const bench::TBenchSandbox sandbox("qar_diag_bench");
  const std::string& dir = sandbox.Dir();
  {
    platform::RegistryKey key;
    if (key.Open(kWebSrvKey, true) != platform::RegStatus::kOk ||
        key.WriteInteger("SqlMonitor", 4) != platform::RegStatus::kOk ||
        key.WriteString("SqlMonUser", "MARIA") != platform::RegStatus::kOk ||
        key.WriteString("TmpFileDir", dir) != platform::RegStatus::kOk) {
      std::fprintf(stderr, "cannot prepare the settings: %s\n", key.LastError().c_str());
      return 1;
    }
  }
  ResetMonitorSettingsForTest();
  if (!IsMonitoredUser("MARIA") || IsMonitoredUser("PEDRO")) return 1;

  return bench::RunBenchmarks(argc, argv);
}
