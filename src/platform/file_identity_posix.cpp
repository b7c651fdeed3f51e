#include "platform/file_identity.h"

#include <sys/stat.h>

#include "platform/text.h"

namespace qar::platform {

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  struct stat info {};
  // Asked on every hand-out of a pooled session: a plain path is not copied.
  if (::stat(IsAscii(path) ? path.c_str() : AnsiToUtf8(path).c_str(), &info) != 0) return std::nullopt;
  return TFileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

bool OpenFilesCanBeReplaced() { return true; }

}  // namespace qar::platform
