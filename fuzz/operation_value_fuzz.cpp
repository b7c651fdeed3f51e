// The operation text of a request: the value cut out of it is where the name puts it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "state/operation_value.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte's share of the rest is the name, the remainder the text.
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t split = std::min<std::size_t>(data[0], input.size());
  const std::string name(input.substr(0, split));
  const std::string text(input.substr(split));

  std::string value = "\x01unset";
  qar::state::ExtractOperationValue(text, name, value);
  const std::size_t at = name.empty() ? std::string::npos : text.find(name);
  if (at == std::string::npos) {
    QAR_FUZZ_CHECK(value == "\x01unset");  // no such name: the value is left alone
  } else {
    // The value starts three characters after the name's first occurrence and ends
    // before the next double quote; without one it is empty.
    const std::size_t from = std::min(text.size(), at + name.size() + 3);
    const std::size_t quote = text.find('"', from);
    QAR_FUZZ_CHECK(value == (quote == std::string::npos ? "" : text.substr(from, quote - from)));
  }

  // A request's own text gives back the value it was made with, when the value
  // holds no double quote and the name does not occur earlier.
  const std::string branch(text.substr(0, text.find('"')));
  const std::string request = "{\"CDFILIAL\":\"" + branch + "\",\"CDCAIXA\":\"02\"}";
  std::string read;
  qar::state::ExtractOperationValue(request, "CDFILIAL", read);
  QAR_FUZZ_CHECK(read == branch);
  return 0;
}
