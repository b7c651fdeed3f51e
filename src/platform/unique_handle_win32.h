// UniqueHandle: a Windows kernel handle closed when it goes out of scope.
#pragma once

#include <windows.h>

namespace qar::platform {

// `invalid` is the value the creating call returns on failure (null or INVALID_HANDLE_VALUE).
class UniqueHandle {
 public:
  UniqueHandle(HANDLE handle, HANDLE invalid) : handle_(handle), invalid_(invalid) {}
  ~UniqueHandle() {
    if (Valid()) CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != invalid_ && handle_ != nullptr; }

 private:
  HANDLE handle_;
  HANDLE invalid_;
};

}  // namespace qar::platform
