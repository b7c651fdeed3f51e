// The stored connection string, translated for ODBC: a value never changes the keys.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/connection_string.h"
#include "data/data_error.h"
#include "fuzz_check.h"
#include "platform/text.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The ODBC reading of a connection string, as a driver manager splits it: a value is
// either plain up to the next ";" or enclosed in braces with "}}" for "}".
std::optional<Pairs> ParseOdbc(std::string_view text) {
  Pairs pairs;
  std::size_t p = 0;
  while (p < text.size()) {
    const std::size_t equals = text.find('=', p);
    if (equals == std::string_view::npos) return std::nullopt;
    std::string key(text.substr(p, equals - p));
    std::string value;
    std::size_t q = equals + 1;
    if (q < text.size() && text[q] == '{') {
      for (++q;; ++q) {
        if (q >= text.size()) return std::nullopt;  // unclosed brace
        if (text[q] == '}') {
          if (q + 1 < text.size() && text[q + 1] == '}') {
            value += '}';
            ++q;
            continue;
          }
          ++q;
          break;
        }
        value += text[q];
      }
      if (q < text.size() && text[q] != ';') return std::nullopt;
    } else {
      const std::size_t end = std::min(text.find(';', q), text.size());
      value.assign(text.substr(q, end - q));
      q = end;
    }
    pairs.emplace_back(std::move(key), std::move(value));
    p = q + 1;
  }
  return pairs;
}

bool IsPasswordKey(std::string_view key) {
  return qar::platform::SameTextAscii(key, "PWD") || qar::platform::SameTextAscii(key, "Password");
}

std::vector<std::string> Passwords(const Pairs& pairs) {
  std::vector<std::string> values;
  for (const auto& [key, value] : pairs)
    if (IsPasswordKey(key)) values.push_back(value);
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Pairs source = qar::ParseConnectionString(text);
  qar::TDriverChoice choice;
  try {
    choice = qar::ChooseDriver(text, "FreeTDS", "Oracle");
  } catch (const qar::EDataError&) {
    return 0;  // an unknown provider or a SQLite string without a file: refused
  }
  if (choice.kind == qar::TDriverChoice::kEmbeddedSqlite) {
    QAR_FUZZ_CHECK(!choice.target.empty());
    return 0;
  }

  const std::optional<Pairs> odbc = ParseOdbc(choice.target);
  QAR_FUZZ_CHECK(odbc.has_value());
  for (const auto& [key, value] : *odbc) QAR_FUZZ_CHECK(!key.empty());
  // Every password the administrator stored reaches the driver whole, in order, and
  // nothing else is read as one.
  QAR_FUZZ_CHECK(Passwords(source) == Passwords(*odbc));
  // A translation never makes more keys than the string had, plus the driver's.
  QAR_FUZZ_CHECK(odbc->size() <= source.size() + 1);
  return 0;
}
