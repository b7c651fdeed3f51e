// The settings file parser: any bytes either parse or are refused with a line number;
// what parses is written out and read back with the same meaning, and writing that
// again gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/regfile.h"

namespace {

using qar::platform::RegDocument;
using qar::platform::RegValueKind;

std::vector<std::string> Meaning(const RegDocument& document) {
  std::vector<std::string> meaning(document.preamble);
  for (const auto& key : document.keys) {
    meaning.push_back("[" + key.path + "]");
    for (const auto& v : key.values) {
      const bool isText = v.kind == RegValueKind::kString || v.kind == RegValueKind::kExpandString;
      meaning.push_back(v.name + "|" + std::to_string(static_cast<int>(v.kind)) + "|" +
                        (isText ? v.text : v.kind == RegValueKind::kDword ? std::to_string(v.dword) : v.raw));
    }
  }
  return meaning;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RegDocument document;
  try {
    document = qar::platform::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const qar::platform::ERegFormatError& error) {
    QAR_FUZZ_CHECK(error.Line() >= 1);
    return 0;
  }
  const std::string written = qar::platform::SerializeRegFile(document);
  const RegDocument read = qar::platform::ParseRegFile(written);  // must not throw
  QAR_FUZZ_CHECK(Meaning(read) == Meaning(document));
  QAR_FUZZ_CHECK(qar::platform::SerializeRegFile(read) == written);
  return 0;
}
