// Password masking of connection strings.
#include "diagnostics/mask_password.h"

#include "platform/text.h"

namespace qar::diagnostics {

namespace {

constexpr std::string_view kPasswordKey = "PASSWORD=";
constexpr std::string_view kPwdKey = "PWD=";

// True when a key may start at `pos` of the upper-case text: nothing but blanks
// between it and the start of the text, a ";" or a quote.
bool StartsKey(std::string_view upper, std::size_t pos) {
  while (pos > 0 && (upper[pos - 1] == ' ' || upper[pos - 1] == '\t')) --pos;
  if (pos == 0) return true;
  const char before = upper[pos - 1];
  return before == ';' || before == '"' || before == '\'';
}

// The position right after the "=" of the next password key at or after `from`.
std::size_t NextPasswordValue(std::string_view upper, std::size_t from) {
  std::size_t key = upper.find(kPasswordKey, from);
  std::size_t keyLength = kPasswordKey.size();
  for (std::size_t pwd = upper.find(kPwdKey, from); pwd < key; pwd = upper.find(kPwdKey, pwd + 1)) {
    if (StartsKey(upper, pwd)) {
      key = pwd;
      keyLength = kPwdKey.size();
      break;
    }
  }
  return key == std::string_view::npos ? key : key + keyLength;
}

}  // namespace

std::string MaskPassword(std::string_view connectionString) {
  std::string masked(connectionString);
  const std::string upper = platform::UpperCaseAscii(connectionString);
  std::size_t from = 0;
  for (;;) {
    const std::size_t start = NextPasswordValue(upper, from);
    if (start == std::string_view::npos) break;
    std::size_t end = upper.find(';', start);
    if (end == std::string::npos) end = upper.size();
    for (std::size_t i = start; i < end; ++i) masked[i] = '*';
    from = end;
  }
  return masked;
}

std::string MaskPassword(std::u16string_view connectionString) {
  return MaskPassword(platform::Utf16ToAnsi(connectionString));
}

}  // namespace qar::diagnostics
