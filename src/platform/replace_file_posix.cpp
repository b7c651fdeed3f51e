#include "platform/replace_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/text.h"

namespace qar::platform {

void ReplaceFileContent(const std::string& ansiPath, const std::string& text) {
  const std::string path = AnsiToUtf8(ansiPath);
  const std::string part = path + "." + std::to_string(getpid()) + ".tmp";
  const auto failure = [&](const std::string& what) {
    const int error = errno;
    unlink(part.c_str());
    return std::runtime_error("cannot " + what + " " + ansiPath + ": " + std::strerror(error));
  };
  const int fd = open(part.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) throw std::runtime_error("cannot create a file beside " + ansiPath + ": " + std::strerror(errno));
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const std::runtime_error error = failure("write");
      close(fd);
      throw error;
    }
    written += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) throw failure("write");
  if (rename(part.c_str(), path.c_str()) != 0) throw failure("replace");
}

}  // namespace qar::platform
