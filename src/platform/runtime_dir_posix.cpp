#include "platform/runtime_dir_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/module.h"
#include "platform/text.h"

namespace qar::platform {

namespace {

// A directory only this user may write into: anyone else able to create or swap
// files there could hold or fake our locks, or read our tokens.
bool OwnedAndPrivate(int dirFd) {
  struct stat info {};
  return fstat(dirFd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int OpenXdgRuntimeDir(std::string& path) {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg == nullptr || xdg[0] != '/') return -1;
  const int fd = open(xdg, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (OwnedAndPrivate(fd) && faccessat(fd, ".", W_OK | X_OK, 0) == 0) {
    path = xdg;
    return fd;
  }
  close(fd);
  return -1;
}

int OpenPerUserDir(std::string& path) {
  std::string temp = AnsiToUtf8(TempDirectory());
  if (temp.empty() || temp.front() != '/') temp = "/tmp/";
  if (temp.back() != '/') temp += '/';
  const std::string dir = temp + "qarsnc-" + std::to_string(geteuid());
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;  // ELOOP: a symbolic link; ENOTDIR: not a directory
  struct stat info {};
  int error = 0;
  if (fstat(fd, &info) != 0) {
    error = errno;
  } else if (info.st_uid != geteuid()) {
    error = EPERM;  // planted by another user
  } else if ((info.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
    error = errno;
  }
  if (error == 0) {
    path = dir;
    return fd;
  }
  close(fd);
  errno = error;
  return -1;
}

}  // namespace

int OpenUserRuntimeDir(std::string* path) {
  std::string found;
  int fd = OpenXdgRuntimeDir(found);
  if (fd < 0) fd = OpenPerUserDir(found);
  if (fd >= 0 && path != nullptr) *path = found;
  return fd;
}

}  // namespace qar::platform
