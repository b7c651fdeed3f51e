// POSIX: log files through open(O_APPEND), so each entry lands whole at the end.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "diagnostics/log_file.h"
#include "platform/text.h"

namespace qar::diagnostics {

namespace {
[[noreturn]] void Fail(const std::string& path, int code) {
  throw EInOutError(path, code, std::system_category().message(code));
}

int OpenRetryingInterrupts(const std::string& name, int flags) {
  int fd;
  do {
    fd = ::open(name.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}
}  // namespace

std::intptr_t TLogFile::OpenNative(const std::string& path, bool& existed) {
  const std::string converted = platform::IsAscii(path) ? std::string() : platform::AnsiToUtf8(path);
  const std::string& name = converted.empty() ? path : converted;
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC;
  int fd = OpenRetryingInterrupts(name, flags);
  existed = fd >= 0;
  // Missing: create it. Another process may create it first, which is as good.
  if (fd < 0 && errno == ENOENT) fd = OpenRetryingInterrupts(name, flags | O_CREAT);
  if (fd < 0) Fail(path, errno);
  return fd;
}

void TLogFile::WriteNative(std::intptr_t handle, const std::string& path, std::string_view bytes) {
  const int fd = static_cast<int>(handle);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(path, errno);
    }
    if (n == 0) Fail(path, EIO);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void TLogFile::CloseNative(std::intptr_t handle) noexcept {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

}  // namespace qar::diagnostics
