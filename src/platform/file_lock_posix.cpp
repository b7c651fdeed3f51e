// POSIX: the lock is an flock on a file opened without following a symbolic link.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/file_lock.h"
#include "platform/module.h"
#include "platform/text.h"

namespace qar::platform {

struct TFileLock::Impl {
  int fd = -1;
  ~Impl() {
    if (fd >= 0) close(fd);
  }
};

TFileLock::TFileLock(std::string path) : path_(std::move(path)) {}
TFileLock::~TFileLock() = default;

namespace {

std::string Reason(const std::string& path, int error) {
  return "the lock file " + path + " cannot be used: " + std::generic_category().message(error);
}

// Opens (creating when missing) the lock file: read-only is enough for flock, so a
// member of the file's group takes it as well as its owner. Non-blocking: a FIFO
// planted in its place must not hold the open up.
int OpenLockFile(const std::string& path, std::string& error) {
  const std::string native = AnsiToUtf8(path);
  const int fd = ::open(native.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0660);
  if (fd < 0) {
    error = Reason(path, errno);
    return -1;
  }
  struct stat info {};
  const bool examined = ::fstat(fd, &info) == 0;
  if (!examined || !S_ISREG(info.st_mode)) {
    error = !examined ? Reason(path, errno) : "the lock file " + path + " is not a regular file";
    ::close(fd);
    return -1;
  }
  // Made by this process just now (or earlier by this user): the group's bits the
  // umask took away, and the directory's group where it is not setgid.
  if (info.st_uid == ::geteuid()) {
    ::fchmod(fd, 0660);
    struct stat dir {};
    const std::string parent = AnsiToUtf8(ExtractFileDir(path));
    if (::stat(parent.empty() ? "." : parent.c_str(), &dir) == 0 && dir.st_gid != info.st_gid) {
      [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), dir.st_gid);
    }
  }
  return fd;
}

}  // namespace

bool TFileLock::TryLock() {
  error_.clear();
  if (held_) return true;
  if (!impl_) {
    const int fd = OpenLockFile(path_, error_);
    if (fd < 0) return false;
    impl_ = std::make_unique<Impl>();
    impl_->fd = fd;
  }
  int result;
  do {
    result = ::flock(impl_->fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return held_ = true;
  if (errno != EWOULDBLOCK) {
    error_ = Reason(path_, errno);
    impl_.reset();  // opened afresh next time: the file may have been put right
  }
  return false;
}

void TFileLock::Unlock() {
  impl_.reset();  // closing the file frees the lock
  held_ = false;
}

}  // namespace qar::platform
