// ReadFileTail: the last bytes of a file whose name someone else may have chosen or planted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qar::platform {

struct TFileTail {
  bool ok = false;
  std::string text;         // the file's last bytes, at most the number asked for
  std::uint64_t size = 0;   // the file's whole size
  std::string error;        // why it was not read
};

// Reads at most the last `maxBytes` of the file `path` (ANSI). Only a regular file is
// read, checked on the open file: a symbolic link is not followed (POSIX: O_NOFOLLOW;
// Windows: a reparse point is refused), and a FIFO or a device is never waited on or
// read (the open does not block). Never raises.
TFileTail ReadFileTail(const std::string& path, std::size_t maxBytes);

}  // namespace qar::platform
