#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "data/data_error.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "state/state_store.h"
#include "state/state_store_system.h"

namespace qar::state {

namespace {
constexpr char kSystemSettings[] = "/etc/qarsnc/HKLM.reg";
constexpr char kSystemStateDir[] = "/var/lib/qarsnc";
}  // namespace

std::string StateStorePath() {
  const std::string settings = platform::RegistryFilePath();
  const std::string dir = settings == kSystemSettings ? std::string(kSystemStateDir) : platform::ExtractFileDir(settings);
  return (dir.empty() ? std::string(".") : dir) + "/" + kStateStoreFileName;
}

void PrepareStoreFile(const std::string& path) {
  const std::string native = platform::AnsiToUtf8(path);
  const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
  if (fd < 0) {
    if (errno == EEXIST) return;
    throw EDataError(std::string("cannot create the file: ") + std::strerror(errno), "08001", errno);
  }
  // The umask may have taken the group's bits away; the group needs them.
  const int rc = ::fchmod(fd, 0660);
  const int saved = errno;
  ::close(fd);
  if (rc != 0) throw EDataError(std::string("cannot set the file's mode: ") + std::strerror(saved), "08001", saved);
}

bool StoreFileExists(const std::string& path) {
  struct stat info {};
  return ::stat(platform::AnsiToUtf8(path).c_str(), &info) == 0;
}

}  // namespace qar::state
