// Diagnostics costs: SQL normalisation, password masking, log names, one log entry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "diagnostics/connection_log.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/mask_password.h"
#include "diagnostics/monitor_settings.h"
#include "diagnostics/replace_named_params.h"
#include "diagnostics/websrv_key.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
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

// The floor: opening the same file, appending the same bytes and closing it.
void BM_BareAppendOfTheSameBytes(benchmark::State& state) {
  const std::string bytes = ComposeConnectionLogEntry(Event(), true, "14:03:27");
  const std::string path = BuildLogFileName(SqlMonitorLevel(), "MARIA", "CAIXA", "PDV01", false);
  const std::string name = platform::ToNativePath(path).string();
  for (auto _ : state) {
    std::FILE* file = std::fopen(name.c_str(), "ab");
    if (file == nullptr) {
      state.SkipWithError("cannot open the log");
      break;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_BareAppendOfTheSameBytes);

}  // namespace

// The settings come from a throw-away registry file; the logs go to a temp directory.
int main(int argc, char** argv) {
  const std::string dir = platform::TempDirectory() + "qar_diag_bench_" +
                          std::to_string(platform::CurrentProcessId()) + platform::kPathDelim;
  std::filesystem::create_directories(platform::ToNativePath(dir));
  platform::SetEnv("QARSNC_HKLM", dir + "HKLM.reg");
  {
    platform::RegistryKey key;
    if (key.Open(kWebSrvKey, true) != platform::RegStatus::kOk ||
        key.WriteInteger("SqlMonitor", 4) != platform::RegStatus::kOk ||
        key.WriteString("TmpFileDir", dir) != platform::RegStatus::kOk) {
      std::fprintf(stderr, "cannot prepare the settings: %s\n", key.LastError().c_str());
      return 1;
    }
  }
  ResetMonitorSettingsForTest();
  if (!IsMonitoredUser("MARIA")) return 1;

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::error_code ignored;
  std::filesystem::remove_all(platform::ToNativePath(dir), ignored);
  return 0;
}
