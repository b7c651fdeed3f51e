// The registry's writer: random key paths, value names and values are either refused
// (never with kOk) or read back equal, and the file always parses afterwards.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz_check.h"
#include "platform/environment.h"
#include "platform/regfile.h"
#include "platform/registry.h"

namespace {

using qar::platform::RegistryKey;
using qar::platform::RegStatus;

// The file lives in the run's working directory (scripts/fuzz runs in a scratch one).
const std::filesystem::path& File() {
  static const std::filesystem::path file = [] {
    const auto dir = std::filesystem::current_path() / "registry_write_fuzz.d";
    std::filesystem::create_directories(dir);
    qar::platform::SetEnv("QARSNC_HKLM", (dir / "HKLM.reg").string());
    return dir / "HKLM.reg";
  }();
  return file;
}

void CheckFileParses() {
  std::ifstream in(File(), std::ios::binary);
  if (!in) return;
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  try {
    qar::platform::ParseRegFile(bytes);
  } catch (const qar::platform::ERegFormatError&) {
    QAR_FUZZ_CHECK(!"a write left a file that does not parse");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::filesystem::remove(File());
  FuzzedDataProvider input(data, size);
  RegistryKey key;
  const std::string path = input.ConsumeRandomLengthString(64);
  if (key.Open(path, /*create=*/true) != RegStatus::kOk) {
    QAR_FUZZ_CHECK(!key.LastError().empty());
    CheckFileParses();
    return 0;
  }
  while (input.remaining_bytes() > 0) {
    const std::string name = input.ConsumeRandomLengthString(32);
    if (input.ConsumeBool()) {
      const std::string text = input.ConsumeRandomLengthString(64);
      if (key.WriteString(name, text) == RegStatus::kOk) {
        std::string read;
        QAR_FUZZ_CHECK(key.ReadString(name, read) == RegStatus::kOk);
        QAR_FUZZ_CHECK(read == text);
      } else {
        QAR_FUZZ_CHECK(!key.LastError().empty());
      }
    } else {
      const auto number = input.ConsumeIntegral<std::int32_t>();
      if (key.WriteInteger(name, number) == RegStatus::kOk) {
        std::int32_t read = 0;
        QAR_FUZZ_CHECK(key.ReadInteger(name, read) == RegStatus::kOk);
        QAR_FUZZ_CHECK(read == number);
      } else {
        QAR_FUZZ_CHECK(!key.LastError().empty());
      }
    }
    CheckFileParses();
  }
  return 0;
}
