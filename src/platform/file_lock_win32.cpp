// Windows: the lock is LockFileEx on the file's first byte.
#include <windows.h>

#include "platform/file_lock.h"
#include "platform/text.h"

namespace qar::platform {

struct TFileLock::Impl {
  HANDLE file = INVALID_HANDLE_VALUE;
  ~Impl() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
};

TFileLock::TFileLock(std::string path) : path_(std::move(path)) {}
TFileLock::~TFileLock() = default;

namespace {
std::string Reason(const std::string& path, DWORD error) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  return "the lock file " + path + " cannot be used: " + (n ? std::string(text, n) : "error " + std::to_string(error));
}
}  // namespace

bool TFileLock::TryLock() {
  error_.clear();
  if (held_) return true;
  if (!impl_) {
    // Reading is enough for LockFileEx, so another user's agent opens a file the first one made.
    const HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(AnsiToUtf16(path_).c_str()), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error_ = Reason(path_, GetLastError());
      return false;
    }
    impl_ = std::make_unique<Impl>();
    impl_->file = file;
    if (GetFileType(file) != FILE_TYPE_DISK) {
      impl_.reset();
      error_ = "the lock file " + path_ + " is not a regular file";
      return false;
    }
  }
  OVERLAPPED at{};
  if (LockFileEx(impl_->file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return held_ = true;
  if (const DWORD error = GetLastError(); error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
    error_ = Reason(path_, error);
    impl_.reset();
  }
  return false;
}

void TFileLock::Unlock() {
  impl_.reset();  // closing the handle frees the lock
  held_ = false;
}

}  // namespace qar::platform
