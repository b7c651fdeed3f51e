// POSIX: the tail is read from a descriptor opened O_NOFOLLOW|O_NONBLOCK and checked to be a regular file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/file_tail.h"
#include "platform/text.h"

namespace qar::platform {

TFileTail ReadFileTail(const std::string& path, std::size_t maxBytes) {
  TFileTail tail;
  const int fd = ::open(AnsiToUtf8(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    tail.error = std::generic_category().message(errno);
    return tail;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    tail.error = "not a regular file";
    ::close(fd);
    return tail;
  }
  tail.size = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t from = tail.size > maxBytes ? tail.size - maxBytes : 0;
  tail.text.resize(static_cast<std::size_t>(tail.size - from));
  std::size_t done = 0;
  while (done < tail.text.size()) {
    const ssize_t n = ::pread(fd, tail.text.data() + done, tail.text.size() - done, static_cast<off_t>(from + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the file shrank meanwhile
    done += static_cast<std::size_t>(n);
  }
  tail.text.resize(done);
  ::close(fd);
  tail.ok = true;
  return tail;
}

}  // namespace qar::platform
