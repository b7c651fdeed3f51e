#include "platform/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/runtime_dir_posix.h"
#include "platform/text.h"

namespace qar::platform {

namespace {

class TFdCloser {
 public:
  explicit TFdCloser(int fd) : fd_(fd) {}
  ~TFdCloser() {
    if (fd_ >= 0) close(fd_);
  }
  TFdCloser(const TFdCloser&) = delete;
  TFdCloser& operator=(const TFdCloser&) = delete;

 private:
  int fd_;
};

std::runtime_error Failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

}  // namespace

std::string WritePrivateFile(const std::string& name, const std::string& text) {
  std::string dir;
  const int dirFd = OpenUserRuntimeDir(&dir);
  if (dirFd < 0) throw Failure("no private directory for", name);
  TFdCloser dirCloser(dirFd);
  const std::string path = Utf8ToAnsi(dir + "/" + AnsiToUtf8(name));
  CreatePrivateFile(path, text, true);
  return path;
}

bool CreatePrivateFile(const std::string& ansiPath, const std::string& text, bool replace) {
  const std::string path = AnsiToUtf8(ansiPath);
  const std::string part = path + "." + std::to_string(getpid()) + ".tmp";
  // O_EXCL: never an existing file, nor through a link that someone placed.
  const int fd = open(part.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw Failure("cannot create a file beside", ansiPath);
  int error = 0;
  const char* what = "cannot write";
  {
    TFdCloser closer(fd);
    errno = EIO;  // what a short write without a reason reports
    if (fchmod(fd, 0600) != 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        fsync(fd) != 0)
      error = errno;
  }
  // Without replace, a hard link puts it in place only where no file is.
  if (error == 0 && (replace ? rename(part.c_str(), path.c_str()) : link(part.c_str(), path.c_str())) != 0) {
    error = errno;
    what = "cannot put in place";
  }
  if (error != 0 || !replace) unlink(part.c_str());
  if (!replace && error == EEXIST) return false;
  errno = error;
  if (error != 0) throw Failure(what, ansiPath);
  return true;
}

std::string ReadPrivateFile(const std::string& ansiPath, std::size_t maxBytes) {
  const int fd = open(AnsiToUtf8(ansiPath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw Failure("cannot open", ansiPath);
  TFdCloser closer(fd);
  struct stat info {};
  if (fstat(fd, &info) != 0) throw Failure("cannot examine", ansiPath);
  if (!S_ISREG(info.st_mode)) throw std::runtime_error(ansiPath + " is not a regular file");
  if (info.st_uid != geteuid() && info.st_uid != 0)
    throw std::runtime_error(ansiPath + " belongs to another user (uid " + std::to_string(info.st_uid) +
                             "): keep it in a file of your own");
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    throw std::runtime_error(ansiPath + " may be read or written by other users (mode " + mode +
                             "): make it yours alone with chmod 600");
  }
  std::string text(maxBytes, '\0');
  std::size_t got = 0;
  for (ssize_t n; got < maxBytes && (n = read(fd, text.data() + got, maxBytes - got)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure("cannot read", ansiPath);
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

}  // namespace qar::platform
