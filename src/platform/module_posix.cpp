// POSIX: module names from /proc/self/exe and dladdr; file names are UTF-8 bytes.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/module.h"
#include "platform/text.h"

namespace qar::platform {

std::string ExecutableFileName() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return Utf8ToAnsi(std::string_view(buffer, static_cast<std::size_t>(n)));
}

std::string ModuleFileNameOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return ExecutableFileName();
  // The main program is reported under the name it was started as; ask the kernel.
  const std::string name = info.dli_fname;
  if (name.empty() || name.front() != '/') return ExecutableFileName();
  char resolved[PATH_MAX];
  if (realpath(name.c_str(), resolved) == nullptr) return Utf8ToAnsi(name);
  return Utf8ToAnsi(resolved);
}

std::string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  return Utf8ToAnsi(dir);
}

std::filesystem::path ToNativePath(const std::string& ansiPath) {
  return std::filesystem::path(AnsiToUtf8(ansiPath));
}

std::string FromNativePath(const std::filesystem::path& path) { return Utf8ToAnsi(path.string()); }

bool CanWriteInDirectory(const std::string& ansiDir) {
  const std::string dir = ToNativePath(ansiDir).string();
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace qar::platform
