// FileIdentity: which file a path names now, to notice a file removed or replaced under an open handle.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qar::platform {

// Two identities are equal when they name the same file. POSIX: the device and
// inode numbers. Windows: the volume serial number and the file index.
struct TFileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// The identity of the file `path` (ANSI) names; none when it does not exist or
// cannot be examined.
std::optional<TFileIdentity> FileIdentity(const std::string& path);

// Whether another program may remove or replace a file this process holds open (POSIX,
// and Wine, whose files are the host's); Windows refuses it while the file is open
// without delete sharing, as a database driver holds its file.
bool OpenFilesCanBeReplaced();

}  // namespace qar::platform
