// Windows: the directory made with the rights its parent passes on, and new files made with CREATE_NEW.
#include <windows.h>

#include "platform/new_file.h"
#include "platform/text.h"

namespace qar::platform {

namespace {
std::string SystemText(DWORD error) {
  char text[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  return n ? std::string(text, n) : "error " + std::to_string(error);
}
}  // namespace

std::string MakeGroupDirectory(const std::string& path, unsigned) {
  const std::u16string wide = AnsiToUtf16(path);
  if (!CreateDirectoryW(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return SystemText(GetLastError());
  const DWORD attributes = GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide.c_str()));
  if (attributes == INVALID_FILE_ATTRIBUTES) return SystemText(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return "not a directory (a link or a file is in its place)";
  return {};
}

TNewFile TNewFile::Create(const std::string& dir, const std::string& name) {
  TNewFile file;
  file.path_ = dir + "\\" + name;
  const HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(AnsiToUtf16(file.path_).c_str()), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    file.exists_ = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    file.error_ = SystemText(error);
    return file;
  }
  file.native_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

void TNewFile::Close() {
  if (native_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(native_));
  native_ = kNone;
}

}  // namespace qar::platform
