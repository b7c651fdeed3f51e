#include "platform/replace_file.h"

#include <windows.h>

#include <stdexcept>

#include "platform/text.h"
#include "platform/unique_handle_win32.h"

namespace qar::platform {

void ReplaceFileContent(const std::string& ansiPath, const std::string& text) {
  const std::u16string path = AnsiToUtf16(ansiPath);
  const std::u16string part = path + AnsiToUtf16("." + std::to_string(GetCurrentProcessId()) + ".tmp");
  const auto wide = [](const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); };
  const auto failure = [&](const std::string& what, DWORD error) {
    DeleteFileW(wide(part));
    return std::runtime_error("cannot " + what + " " + ansiPath + " (error " + std::to_string(error) + ")");
  };
  DWORD writeError = 0;
  {
    // CREATE_NEW: never an existing file, nor through a link that someone placed.
    UniqueHandle file(CreateFileW(wide(part), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                      INVALID_HANDLE_VALUE);
    if (!file.Valid()) {
      throw std::runtime_error("cannot create a file beside " + ansiPath + " (error " + std::to_string(GetLastError()) + ")");
    }
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size()) {
      writeError = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    }
  }  // closed: a file still open could not be removed
  if (writeError != 0) throw failure("write", writeError);
  if (!MoveFileExW(wide(part), wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw failure("replace", GetLastError());
  }
}

}  // namespace qar::platform
