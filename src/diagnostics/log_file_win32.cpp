// Windows: log files through CreateFileA with append-only access, shared with other writers.
#include <windows.h>

#include "diagnostics/log_file.h"

namespace qar::diagnostics {

namespace {
std::string SystemText(DWORD code) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = n != 0 ? std::string(buffer, n) : "System error " + std::to_string(code);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

[[noreturn]] void Fail(const std::string& path, DWORD code) {
  throw EInOutError(path, static_cast<int>(code), SystemText(code));
}
}  // namespace

std::intptr_t TLogFile::OpenNative(const std::string& path, bool& existed) {
  // Append-only access makes every write land at the end, also with other processes
  // writing; sharing read and write lets them and any reader keep working meanwhile.
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(path, GetLastError());
  existed = GetLastError() == ERROR_ALREADY_EXISTS;
  return reinterpret_cast<std::intptr_t>(file);
}

void TLogFile::WriteNative(std::intptr_t handle, const std::string& path, std::string_view bytes) {
  HANDLE file = reinterpret_cast<HANDLE>(handle);
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) Fail(path, GetLastError());
    if (written == 0) Fail(path, ERROR_WRITE_FAULT);
    bytes.remove_prefix(written);
  }
}

void TLogFile::CloseNative(std::intptr_t handle) noexcept {
  HANDLE file = reinterpret_cast<HANDLE>(handle);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace qar::diagnostics
