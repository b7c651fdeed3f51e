// Windows: Toolhelp32 snapshot, TerminateProcess and ShellExecuteA.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/process.h"

namespace qar::platform {

const bool kStartParamsAreCommandLine = true;

namespace {

// A kernel handle closed when it goes out of scope; `invalid` is the value the
// creating call returns on failure (null or INVALID_HANDLE_VALUE).
class UniqueHandle {
 public:
  UniqueHandle(HANDLE handle, HANDLE invalid) : handle_(handle), invalid_(invalid) {}
  ~UniqueHandle() {
    if (handle_ != invalid_ && handle_ != nullptr) CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != invalid_ && handle_ != nullptr; }

 private:
  HANDLE handle_;
  HANDLE invalid_;
};

std::string SystemText(DWORD error) {
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                           buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ')) --n;
  if (n == 0) return "error " + std::to_string(error);
  return std::string(buffer, n);
}

ProcessResult Failure(DWORD error) { return {false, static_cast<int>(error), SystemText(error)}; }

}  // namespace

ProcessSnapshot SnapshotProcesses() { return SnapshotProcesses(nullptr); }

ProcessSnapshot SnapshotProcesses(const ShortNameFilter& wanted) {
  ProcessSnapshot snapshot;
  UniqueHandle handle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), INVALID_HANDLE_VALUE);
  if (!handle.Valid()) {
    snapshot.error = static_cast<int>(GetLastError());
    return snapshot;
  }
  // The ANSI entry: szExeFile holds the name in the system's code page.
  PROCESSENTRY32 entry{};
  static_assert(sizeof entry.szExeFile[0] == 1, "PROCESSENTRY32 must be the ANSI entry");
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(handle.Get(), &entry); more; more = Process32Next(handle.Get(), &entry)) {
    const std::size_t length = strnlen(entry.szExeFile, sizeof entry.szExeFile);
    if (wanted && !wanted(std::string_view(entry.szExeFile, length))) continue;
    snapshot.entries.push_back({static_cast<std::uint32_t>(entry.th32ProcessID), std::string(entry.szExeFile, length)});
  }
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES && snapshot.entries.empty()) {
    snapshot.error = static_cast<int>(error);
    return snapshot;
  }
  snapshot.ok = true;
  return snapshot;
}

ProcessResult TerminateProcessById(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return Failure(ERROR_INVALID_PARAMETER);
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)), nullptr);
  if (!process.Valid()) return Failure(GetLastError());
  if (!TerminateProcess(process.Get(), 0)) return Failure(GetLastError());
  return {true, 0, {}};
}

ProcessResult StartDetached(const std::string& path, const std::string& params,
                            const std::string& workDir, void* ownerWindow) {
  SetLastError(ERROR_SUCCESS);
  const HINSTANCE result = ShellExecuteA(static_cast<HWND>(ownerWindow), nullptr, path.c_str(),
                                         params.empty() ? nullptr : params.c_str(),
                                         workDir.empty() ? nullptr : workDir.c_str(), SW_HIDE);
  const auto code = reinterpret_cast<INT_PTR>(result);
  if (code > 32) return {true, 0, {}};
  // Values up to 32 are the shell's own error codes; most equal a system error
  // code, and the last error usually holds the precise one.
  const DWORD lastError = GetLastError();
  return Failure(lastError != ERROR_SUCCESS ? lastError : static_cast<DWORD>(code == 0 ? ERROR_OUTOFMEMORY : code));
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(GetCurrentProcessId()); }

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace qar::platform

namespace qar::platform {

namespace {
// The user SID of a process's token, or empty.
std::vector<unsigned char> TokenUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, ::TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  const BOOL ok = size > 0 && GetTokenInformation(token, ::TokenUser, buffer.data(), size, &size);
  CloseHandle(token);
  if (!ok) return {};
  return buffer;
}
}  // namespace

bool IsProcessOfCurrentUser(std::uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return false;
  const std::vector<unsigned char> theirs = TokenUser(process);
  CloseHandle(process);
  const std::vector<unsigned char> ours = TokenUser(GetCurrentProcess());
  if (theirs.empty() || ours.empty()) return false;
  return EqualSid(reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid,
                  reinterpret_cast<const TOKEN_USER*>(ours.data())->User.Sid) != FALSE;
}

}  // namespace qar::platform
