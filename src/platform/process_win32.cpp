// Windows: a program's processes through Toolhelp32 and process handles, TerminateProcess and ShellExecuteA.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/new_file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "platform/unique_handle_win32.h"

namespace qar::platform {

const bool kStartParamsAreCommandLine = true;

// A command line holds at most 32767 characters, its NUL included: the quoted path
// and a blank come first.
std::size_t MaxStartParamsLength(const std::string& path) {
  constexpr std::size_t kCommandLineMax = 32767 - 1;
  return path.size() + 3 >= kCommandLineMax ? 0 : kCommandLineMax - path.size() - 3;
}

namespace {

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

std::string CurrentUserName() {
  char name[257] = {};
  DWORD size = sizeof name;
  return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

std::string ProcessInstance(std::uint32_t pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return {};
  FILETIME created{}, exited{}, kernel{}, user{};
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  const bool timed = GetProcessTimes(process, &created, &exited, &kernel, &user);
  CloseHandle(process);
  if (!running || !timed) return {};
  const std::uint64_t ticks = (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return std::to_string(pid) + "@" + std::to_string(ticks);
}

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string HostFileName(const std::string& path) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return path;  // real Windows
  const std::unique_ptr<char, void (*)(char*)> unixName(
      toUnix(reinterpret_cast<const WCHAR*>(AnsiToUtf16(path).c_str())),
      [](char* name) { HeapFree(GetProcessHeap(), 0, name); });
  return unixName ? Utf8ToAnsi(unixName.get()) : path;
}

std::string SignalName(int) { return {}; }

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

bool SameUser(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  return !a.empty() && !b.empty() &&
         EqualSid(reinterpret_cast<const TOKEN_USER*>(a.data())->User.Sid,
                  reinterpret_cast<const TOKEN_USER*>(b.data())->User.Sid) != FALSE;
}

std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH * 2];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

HANDLE Native(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }
}  // namespace

bool TProcessHandle::Running() const {
  return native_ != kNone && WaitForSingleObject(Native(native_), 0) == WAIT_TIMEOUT;
}

ProcessResult TProcessHandle::Terminate() const {
  if (native_ == kNone) return Failure(ERROR_INVALID_HANDLE);
  if (!TerminateProcess(Native(native_), 0)) return Failure(GetLastError());
  return {true, 0, {}};
}

ProcessResult TProcessHandle::TerminateGroup() const { return Terminate(); }

void TProcessHandle::Reset() {
  if (native_ != kNone) CloseHandle(Native(native_));
  native_ = kNone;
}

std::vector<TProcessHandle> FindProcessesOfFile(const std::string& exePath) {
  std::vector<TProcessHandle> found;
  const std::string wanted = FullPath(exePath);
  const std::size_t slash = wanted.find_last_of("\\/:");
  const std::string fileName = slash == std::string::npos ? wanted : wanted.substr(slash + 1);
  const std::vector<unsigned char> ours = TokenUser(GetCurrentProcess());
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), INVALID_HANDLE_VALUE);
  if (!snapshot.Valid()) return found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, fileName.c_str()) != 0) continue;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                                       FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    TProcessHandle handle(static_cast<std::uint32_t>(entry.th32ProcessID), reinterpret_cast<std::intptr_t>(process));
    char image[MAX_PATH * 2] = {};
    DWORD size = sizeof image;
    if (QueryFullProcessImageNameA(process, 0, image, &size) && lstrcmpiA(image, wanted.c_str()) == 0 &&
        SameUser(TokenUser(process), ours) && handle.Running()) {
      found.push_back(std::move(handle));
    }
  }
  return found;
}

}  // namespace qar::platform

namespace qar::platform {

std::optional<TExitStatus> TProcessHandle::Reap() const {
  DWORD code = 0;
  if (native_ == kNone || Running() || !GetExitCodeProcess(reinterpret_cast<HANDLE>(native_), &code))
    return std::nullopt;
  return TExitStatus{false, static_cast<int>(code)};
}

const bool kChildOutputToFile = false;

TStartedChild StartChild(const std::string& path, const std::string& params, const std::vector<std::string>&,
                         const TNewFile*, std::uint64_t) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = path.c_str();
  info.lpParameters = params.empty() ? nullptr : params.c_str();
  info.nShow = SW_HIDE;
  if (!ShellExecuteExA(&info)) return {Failure(GetLastError()), {}, {}};
  if (info.hProcess == nullptr) return {{true, 0, {}}, {}, "started through another program: not held"};
  return {{true, 0, {}},
          TProcessHandle(static_cast<std::uint32_t>(GetProcessId(info.hProcess)),
                         reinterpret_cast<std::intptr_t>(info.hProcess), true),
          {}};
}

namespace {
// The creation time of a process, as ProcessInstance gives it; 0 when it cannot be read.
std::uint64_t CreationTime(HANDLE process) {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}
}  // namespace

std::vector<TProcessEntry> ListProcesses(const std::vector<std::string>&) {
  std::vector<TProcessEntry> processes;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), INVALID_HANDLE_VALUE);
  if (!snapshot.Valid()) return processes;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
    TProcessEntry process;
    process.pid = static_cast<std::uint32_t>(entry.th32ProcessID);
    process.parent = static_cast<std::uint32_t>(entry.th32ParentProcessID);
    UniqueHandle handle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID), nullptr);
    if (handle.Valid()) process.start = CreationTime(handle.Get());
    processes.push_back(process);
  }
  return processes;
}

ProcessResult TerminateProcessInstance(std::uint32_t pid, std::uint64_t start) {
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid),
                       nullptr);
  if (!process.Valid()) {
    const DWORD error = GetLastError();
    return error == ERROR_INVALID_PARAMETER ? ProcessResult{true, 0, {}} : Failure(error);  // gone
  }
  // Held first, so that the process checked is the one ended.
  if (CreationTime(process.Get()) != start || WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT)
    return {true, 0, {}};
  if (!TerminateProcess(process.Get(), 0)) return Failure(GetLastError());
  return {true, 0, {}};
}

std::string ProcessCommandLine(std::uint32_t pid, std::size_t maxLength) {
  UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid), nullptr);
  char image[MAX_PATH * 2] = {};
  DWORD size = sizeof image;
  if (!process.Valid() || !QueryFullProcessImageNameA(process.Get(), 0, image, &size)) return {};
  std::string line(image, size);
  if (line.size() > maxLength) line.resize(maxLength);
  return line;
}

std::optional<std::uint64_t> InstanceStart(const std::string& instance, std::uint32_t pid) {
  const std::string prefix = std::to_string(pid) + "@";
  if (pid == 0 || !instance.starts_with(prefix) || instance.size() == prefix.size()) return std::nullopt;
  std::uint64_t value = 0;
  const char* begin = instance.data() + prefix.size();
  const auto [end, error] = std::from_chars(begin, instance.data() + instance.size(), value);
  if (error != std::errc() || end != instance.data() + instance.size()) return std::nullopt;
  return value;
}

}  // namespace qar::platform
