// Windows: GetModuleFileNameA, GetModuleHandleExA and GetTempPathA.
#include <windows.h>

#include "platform/module.h"
#include "platform/text.h"

namespace qar::platform {

namespace {
std::string FileNameOf(HMODULE module) {
  char buffer[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(module, buffer, MAX_PATH);
  return std::string(buffer, n);
}
}  // namespace

std::string ExecutableFileName() { return FileNameOf(nullptr); }

std::string ModuleFileNameOf(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return ExecutableFileName();
  }
  return FileNameOf(module);
}

std::string TempDirectory() {
  // A longer path than the buffer holds comes back as the size it needs.
  std::string dir(MAX_PATH + 1, '\0');
  DWORD n = GetTempPathA(static_cast<DWORD>(dir.size()), dir.data());
  if (n >= dir.size()) {
    dir.assign(n + 1, '\0');
    n = GetTempPathA(static_cast<DWORD>(dir.size()), dir.data());
  }
  dir.resize(n < dir.size() ? n : 0);
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  return dir;
}

std::filesystem::path ToNativePath(const std::string& ansiPath) {
  const std::u16string wide = AnsiToUtf16(ansiPath);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
}

std::string FromNativePath(const std::filesystem::path& path) {
  const std::wstring wide = path.wstring();
  return Utf16ToAnsi(std::u16string(wide.begin(), wide.end()));
}

bool CanWriteInDirectory(const std::string& ansiDir) {
  // The access rules of a directory are lists of grants; trying is the one sure answer.
  std::string probe = ansiDir;
  if (!probe.empty() && probe.back() != '\\' && probe.back() != '/') probe += '\\';
  probe += "qarsnc-write-check-" + std::to_string(GetCurrentProcessId()) + ".tmp";
  const HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace qar::platform
