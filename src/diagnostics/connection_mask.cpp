#include "diagnostics/connection_mask.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "diagnostics/mask_password.h"
#include "platform/text.h"

namespace qar::diagnostics {

namespace {

bool IsPasswordKey(std::string_view key) {
  const std::string upper = platform::UpperCaseAscii(platform::TrimControl(key));
  return upper == "PWD" || upper.ends_with("PASSWORD");
}

// Where the value starting at `pos` ends as the connection-string parser reads it: at
// the ";" after it or the end, a quoted or braced value (";" and doubled marks
// inside) counting whole.
std::size_t ValueEnd(std::string_view text, std::size_t pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'' || text[pos] == '{')) {
    const char close = text[pos] == '{' ? '}' : text[pos];
    for (++pos; pos < text.size(); ++pos) {
      if (text[pos] != close) continue;
      if (pos + 1 < text.size() && text[pos + 1] == close) {
        ++pos;
        continue;
      }
      ++pos;
      break;
    }
  }
  return std::min(text.find(';', pos), text.size());
}

}  // namespace

std::string MaskConnectionString(const std::string& connectionString) {
  // Where the logs' masking hides a character, and where a password key's whole value
  // lies as the drivers read it. A '*' of the text itself must not look unmasked.
  std::string probe = connectionString;
  std::replace(probe.begin(), probe.end(), '*', 'x');
  const std::string logMasked = diagnostics::MaskPassword(probe);
  std::vector<bool> hidden(connectionString.size(), false);
  for (std::size_t i = 0; i < logMasked.size() && i < hidden.size(); ++i) hidden[i] = logMasked[i] == '*';

  const std::string_view text = connectionString;
  std::size_t p = 0;
  while (p < text.size()) {
    const std::size_t equals = text.find('=', p);
    const std::size_t semicolon = text.find(';', p);
    if (equals == std::string_view::npos || semicolon < equals) {
      if (semicolon == std::string_view::npos) break;
      p = semicolon + 1;
      continue;
    }
    const std::size_t end = ValueEnd(text, equals + 1);
    if (IsPasswordKey(text.substr(p, equals - p))) {
      std::fill(hidden.begin() + static_cast<std::ptrdiff_t>(equals + 1),
                hidden.begin() + static_cast<std::ptrdiff_t>(end), true);
    }
    p = end + 1;
  }

  // Each hidden stretch becomes one fixed mask: its length tells nothing.
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!hidden[i]) {
      shown += text[i];
    } else if (i == 0 || !hidden[i - 1]) {
      shown += kPasswordMask;
    }
  }
  return shown;
}

}  // namespace qar::diagnostics
