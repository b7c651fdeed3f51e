// POSIX: a group directory made with its mode and group, and new files made relative to it with O_EXCL|O_NOFOLLOW.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include "platform/module.h"
#include "platform/new_file.h"
#include "platform/text.h"

namespace qar::platform {

namespace {
std::string SystemText(int error) { return std::generic_category().message(error); }
}  // namespace

std::string MakeGroupDirectory(const std::string& path, unsigned mode) {
  const std::string native = AnsiToUtf8(path);
  const bool made = ::mkdir(native.c_str(), static_cast<mode_t>(mode & 0777)) == 0;
  if (!made && errno != EEXIST) return SystemText(errno);
  const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP || errno == ENOTDIR ? std::string("not a directory (a link or a file is in its place)")
                                                        : SystemText(errno);
  std::string error;
  if (made) {
    // The umask may have taken bits away; the parent's group is passed on where the
    // parent is not setgid.
    struct stat parent {};
    const std::string up = AnsiToUtf8(ExtractFileDir(path));
    if (::stat(up.empty() ? "." : up.c_str(), &parent) == 0) {
      [[maybe_unused]] const int ignored = ::fchown(fd, static_cast<uid_t>(-1), parent.st_gid);
    }
    if (::fchmod(fd, static_cast<mode_t>(mode & 07777)) != 0) error = SystemText(errno);
  }
  ::close(fd);
  return error;
}

TNewFile TNewFile::Create(const std::string& dir, const std::string& name) {
  TNewFile file;
  file.path_ = dir + "/" + name;
  const int dirFd = ::open(AnsiToUtf8(dir).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) {
    file.error_ = errno == ELOOP ? std::string("its directory is a symbolic link") : SystemText(errno);
    return file;
  }
  const int fd = ::openat(dirFd, AnsiToUtf8(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
  const int error = errno;
  ::close(dirFd);
  if (fd < 0) {
    file.exists_ = error == EEXIST;
    file.error_ = SystemText(error);
    return file;
  }
  ::fchmod(fd, 0640);  // not more than that, whatever the umask left
  file.native_ = fd;
  return file;
}

void TNewFile::Close() {
  if (native_ != kNone) ::close(static_cast<int>(native_));
  native_ = kNone;
}

}  // namespace qar::platform
