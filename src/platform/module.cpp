// Path pieces, the same on every platform: both separators are recognised.
#include "platform/module.h"

namespace qar::platform {

namespace {
std::size_t LastDelimiter(const std::string& path) {
  return path.find_last_of(":\\/");
}
}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const std::size_t pos = LastDelimiter(path);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileDir(const std::string& path) {
  const std::size_t pos = LastDelimiter(path);
  if (pos == std::string::npos) return {};
  // Keep the separator of a root ("C:\" or "/").
  if (pos == 0 || (pos > 0 && path[pos - 1] == ':') || path[pos] == ':') return path.substr(0, pos + 1);
  return path.substr(0, pos);
}

std::string ExtractFileName(const std::string& path) {
  const std::size_t pos = LastDelimiter(path);
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace qar::platform
