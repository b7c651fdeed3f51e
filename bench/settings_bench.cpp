// The settings file: parse throughput of a valid .reg file of 4 MB and 40 MB, and a
// value read through the registry on the same files. Both must grow with the size
// of the file, not with its square.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/regfile.h"
#include "platform/registry.h"

namespace qar::platform {
namespace {

constexpr std::int64_t kMegabyte = 1 << 20;

// An export as the registry editor writes it (UTF-16LE with BOM): half of the values in
// one large key, the rest in keys of 20 values, with strings (escapes included), dwords
// and wrapped hex data, so that both many keys and many values per key are exercised.
std::string SettingsFile(std::int64_t bytes) {
  static std::map<std::int64_t, std::string> made;
  std::string& file = made[bytes];
  if (!file.empty()) return file;
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Bench\\Big]\r\n";
  const std::string filler(300, 'x');
  const auto target = static_cast<std::size_t>(bytes / 2);  // UTF-16: two bytes a character
  int n = 0;
  while (text.size() < target) {
    if (text.size() > target / 2 && n % 20 == 0) {
      text += "\r\n[HKEY_LOCAL_MACHINE\\Software\\Bench\\K" + std::to_string(n) + "]\r\n";
    }
    const std::string name = "\"Value" + std::to_string(n) + "\"=";
    switch (n % 3) {
      case 0:
        text += name + "\"C:\\\\dir\\\\\\\"" + filler + "\\\"\"\r\n";
        break;
      case 1:
        text += name + "dword:0000000a\r\n";
        break;
      default:
        text += name + "hex(7):41,00,42,00,00,00,43,00,00,00,00,00,44,00,45,00,46,00,47,00,48,\\\r\n"
                       "  00,49,00,00,00,00,00\r\n";
    }
    ++n;
  }
  file = "\xFF\xFE";
  file.reserve(text.size() * 2 + 2);
  for (char c : text) {
    file += c;
    file += '\0';
  }
  return file;
}

void BM_ParseSettingsFile(benchmark::State& state) {
  const std::string bytes = SettingsFile(state.range(0) * kMegabyte);
  for (auto _ : state) benchmark::DoNotOptimize(ParseRegFile(bytes));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_ParseSettingsFile)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

// Open a key and read one value, as the agent's settings do: the file is read afresh.
void BM_ReadValueFromSettingsFile(benchmark::State& state) {
  const std::string bytes = SettingsFile(state.range(0) * kMegabyte);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("qar_settings_bench_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "HKLM.reg").string();
  std::ofstream(file, std::ios::binary) << bytes;
  ::setenv("QARSNC_HKLM", file.c_str(), 1);
  for (auto _ : state) {
    RegistryKey key;
    std::int32_t value = 0;
    if (key.Open("Software\\Bench\\Big", false, RegAccess::kRead) != RegStatus::kOk ||
        key.ReadInteger("Value1", value) != RegStatus::kOk || value != 10) {
      state.SkipWithError(key.LastError().c_str());
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()) * 2);
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReadValueFromSettingsFile)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace qar::platform

BENCHMARK_MAIN();
