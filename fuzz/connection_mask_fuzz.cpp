// The connection-string parser and QarCfg's masking of passwords. The input describes Key=Value pairs,
// each value plain, quoted or braced; the text built from them must parse back to exactly
// those pairs, and the masked text must hold no byte of a password's value: every
// password carries a marker that no other part of the text can hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/connection_string.h"
#include "fuzz_check.h"
#include "platform/text.h"
#include "diagnostics/connection_mask.h"

namespace {

constexpr char kMarker = '\x7F';  // kept by the parser's trimming, found nowhere else

const char* const kPasswordKeys[] = {"Password", " pwd", "Jet OLEDB:Database PASSWORD ", "PWD"};

bool IsPasswordKey(const std::string& key) {
  const std::string upper = qar::platform::UpperCaseAscii(key);
  return upper == "PWD" || upper.ends_with("PASSWORD");
}

// Takes the next piece of the input, up to a 0 byte or the end.
std::string Piece(const std::uint8_t*& data, const std::uint8_t* end) {
  std::string piece;
  while (data < end && *data != 0) piece += static_cast<char>(*data++);
  if (data < end) ++data;
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* end = data + size;
  std::string text;
  std::vector<std::pair<std::string, std::string>> expected;
  while (data < end && expected.size() < 16) {
    const int choice = *data++;
    const int style = choice % 4;  // plain, "quoted", 'quoted', {braced}
    std::string key = Piece(data, end);
    if ((choice >> 2) % 2 == 0) key = kPasswordKeys[(choice >> 3) % 4];  // reached more often than by chance
    std::string value = Piece(data, end);
    std::erase_if(key, [](char c) { return c == '=' || c == ';' || c == kMarker; });
    const std::string name = qar::platform::TrimControl(key);  // as the parser reads it
    if (name.empty()) continue;
    const bool secret = IsPasswordKey(name);
    std::erase(value, kMarker);
    std::string written;
    if (style == 0) {
      std::erase(value, ';');
      value = qar::platform::TrimControl(value);
      if (secret) value.insert(0, 1, kMarker);
      if (!value.empty() && (value[0] == '"' || value[0] == '\'' || value[0] == '{')) value.insert(0, "x");
      written = value;
    } else {
      if (secret) value.insert(0, 1, kMarker);
      const char open = style == 1 ? '"' : style == 2 ? '\'' : '{';
      const char close = style == 3 ? '}' : open;
      written += open;
      for (char c : value) {
        written += c;
        if (c == close) written += c;
      }
      written += close;
    }
    text += (text.empty() ? "" : ";") + key + "=" + written;
    expected.emplace_back(name, value);
  }
  QAR_FUZZ_CHECK(qar::ParseConnectionString(text) == expected);
  QAR_FUZZ_CHECK(qar::diagnostics::MaskConnectionString(text).find(kMarker) == std::string::npos);
  return 0;
}
