// Windows: the tail is read from a handle that refuses reparse points and anything but a disk file.
#include <windows.h>

#include <algorithm>

#include "platform/file_tail.h"
#include "platform/text.h"
#include "platform/unique_handle_win32.h"

namespace qar::platform {

TFileTail ReadFileTail(const std::string& path, std::size_t maxBytes) {
  TFileTail tail;
  UniqueHandle file(CreateFileW(reinterpret_cast<LPCWSTR>(AnsiToUtf16(path).c_str()), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                    INVALID_HANDLE_VALUE);
  if (!file.Valid()) {
    tail.error = "cannot be opened (error " + std::to_string(GetLastError()) + ")";
    return tail;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      !GetFileSizeEx(file.Get(), &size)) {
    tail.error = "not a regular file";
    return tail;
  }
  tail.size = static_cast<std::uint64_t>(size.QuadPart);
  const std::uint64_t from = tail.size > maxBytes ? tail.size - maxBytes : 0;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(from);
  tail.text.resize(static_cast<std::size_t>(tail.size - from));
  std::size_t done = 0;
  if (SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN)) {
    while (done < tail.text.size()) {
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(tail.text.size() - done, 1 << 20));
      if (!ReadFile(file.Get(), tail.text.data() + done, want, &n, nullptr) || n == 0) break;
      done += n;
    }
  }
  tail.text.resize(done);
  tail.ok = true;
  return tail;
}

}  // namespace qar::platform
