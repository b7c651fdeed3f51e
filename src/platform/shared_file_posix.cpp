// POSIX: the file is made 0660 and given the group, so that every agent of the group can write it.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "platform/module.h"
#include "platform/shared_file.h"

namespace qar::platform {

namespace {

std::runtime_error Failure(const std::string& what, const std::string& path, int code) {
  return std::runtime_error(what + " " + path + ": " + std::generic_category().message(code));
}

std::string GroupName(gid_t gid) {
  const struct group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

}  // namespace

std::string CreateGroupFile(const std::string& ansiPath, const std::string& group) {
  const std::string path = ToNativePath(ansiPath).string();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
  if (fd < 0) throw Failure("cannot create", ansiPath, errno);
  std::string note;
  if (const struct group* entry = ::getgrnam(group.c_str()); entry && ::fchown(fd, -1, entry->gr_gid) != 0) {
    note = "; it cannot be given the group " + group + ": " + std::generic_category().message(errno);
  }
  struct stat st {};
  // The umask must not take the group's write right away.
  const bool ok = ::fchmod(fd, 0660) == 0 && ::fstat(fd, &st) == 0;
  const int code = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(path.c_str());
    throw Failure("cannot set the mode of", ansiPath, code);
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return std::string("mode ") + mode + ", group " + GroupName(st.st_gid) + note;
}

}  // namespace qar::platform
