#include "state/operation_value.h"

#include <algorithm>

namespace qar::state {

void ExtractOperationValue(std::string text, std::string name, std::string& value) {
  if (name.empty()) return;  // an empty name occurs nowhere
  const std::size_t pos = text.find(name);
  if (pos == std::string::npos) return;
  text.erase(0, pos);
  text.erase(0, std::min(text.size(), name.size() + 3));
  const std::size_t quote = text.find('"');
  value = quote == std::string::npos ? std::string() : text.substr(0, quote);
}

}  // namespace qar::state
