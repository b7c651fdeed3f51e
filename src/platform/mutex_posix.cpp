// POSIX: the named mutex is an flock on "<name>.lock" in the user's runtime directory.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <system_error>

#include "platform/mutex.h"
#include "platform/runtime_dir_posix.h"
#include "platform/text.h"

namespace qar::platform {

struct NamedMutex::Impl {
  int fd = -1;
  int dirFd = -1;
  std::string stateFile;
  ~Impl() {
    if (fd >= 0) close(fd);
    if (dirFd >= 0) close(dirFd);
  }
};

namespace {

bool PlainName(std::string_view name) {
  return !name.empty() && name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

}  // namespace

NamedMutex::NamedMutex(std::string_view name) {
  if (!PlainName(name)) {
    lastError_ = EINVAL;
    return;
  }
  const int dirFd = OpenUserRuntimeDir();
  if (dirFd < 0) {
    lastError_ = errno;
    return;
  }
  const std::string file = AnsiToUtf8(name) + ".lock";
  // CLOEXEC: a started program must not inherit (and so keep holding) the lock.
  const int fd = openat(dirFd, file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
  const int openError = errno;
  auto impl = std::make_unique<Impl>();
  impl->dirFd = dirFd;
  impl->fd = fd;
  impl->stateFile = AnsiToUtf8(name) + ".state";
  if (fd < 0) {
    lastError_ = openError;
    return;
  }
  int result;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    lastError_ = errno;
    outcome_ = lastError_ == EWOULDBLOCK ? MutexOutcome::kAlreadyExists : MutexOutcome::kFailed;
    return;  // impl closes the file
  }
  impl_ = std::move(impl);
  outcome_ = MutexOutcome::kCreated;
}

NamedMutex::~NamedMutex() = default;
NamedMutex::NamedMutex(NamedMutex&&) noexcept = default;
NamedMutex& NamedMutex::operator=(NamedMutex&&) noexcept = default;

std::string NamedMutex::ErrorText() const {
  return lastError_ == 0 ? std::string() : std::generic_category().message(lastError_);
}

void NamedMutex::Close() { impl_.reset(); }

bool NamedMutex::Publish(const std::string& text) {
  if (!impl_) return false;
  // Only the creator holds the lock: another's handle would keep the first holder's alive.
  assert(outcome_ == MutexOutcome::kCreated && "a mutex held by an object that did not create it");
  const std::string part = impl_->stateFile + ".part";
  const int fd = openat(impl_->dirFd, part.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written && renameat(impl_->dirFd, part.c_str(), impl_->dirFd, impl_->stateFile.c_str()) == 0;
}

std::optional<std::string> NamedMutex::ReadPublished(std::string_view name) {
  if (!PlainName(name)) return std::nullopt;
  const int dirFd = OpenUserRuntimeDir();
  if (dirFd < 0) return std::nullopt;
  const int fd = openat(dirFd, (AnsiToUtf8(name) + ".state").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  close(dirFd);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

}  // namespace qar::platform
