// Windows: children through CreateProcessA with inherited file handles; image names by QueryFullProcessImageNameA.
#include <windows.h>

#include <stdexcept>

#include "child_process.h"
#include "platform/process.h"
#include "platform/text.h"
#include "wait_until.h"

namespace qar::e2e {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle& operator=(Handle&&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

[[noreturn]] void ThrowLastError(const std::string& what) {
  throw std::runtime_error(what + ": error " + std::to_string(GetLastError()));
}

Handle OpenOutput(const std::string& file) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle handle(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (handle.Get() == nullptr) ThrowLastError("cannot create " + file);
  return handle;
}

// One argument as the started program's command-line parser reads it back.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH * 2] = {};
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

}  // namespace

struct ChildProcess::Impl {
  PROCESS_INFORMATION info{};
  ~Impl() {
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
  }
};

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::string& workDir, const std::string& stdoutFile,
                           const std::string& stderrFile)
    : impl_(std::make_unique<Impl>()) {
  Handle out = OpenOutput(stdoutFile);
  Handle err = OpenOutput(stderrFile);
  std::string commandLine = Quote(path);
  for (const std::string& arg : args) {
    commandLine += ' ';
    commandLine += Quote(arg);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out.Get();
  startup.hStdError = err.Get();
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &startup, &impl_->info)) {
    ThrowLastError("cannot start " + path);
  }
}

ChildProcess::~ChildProcess() { Kill(); }

std::uint32_t ChildProcess::Pid() const { return static_cast<std::uint32_t>(impl_->info.dwProcessId); }

bool ChildProcess::Running() { return WaitForSingleObject(impl_->info.hProcess, 0) == WAIT_TIMEOUT; }

std::optional<int> ChildProcess::Wait(double seconds) {
  WaitUntil([this] { return !Running(); }, seconds);
  return ExitCode();
}

void ChildProcess::Kill() {
  if (!Running()) return;
  TerminateProcess(impl_->info.hProcess, 1);
  WaitForSingleObject(impl_->info.hProcess, 30000);
}

std::optional<int> ChildProcess::ExitCode() {
  if (Running()) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(impl_->info.hProcess, &code)) return std::nullopt;
  return static_cast<int>(code);
}

std::vector<std::uint32_t> ProcessesOfFile(const std::string& exePath) {
  const std::string wanted = FullPath(exePath);
  std::vector<std::uint32_t> pids;
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.pid));
    if (process.Get() == nullptr) continue;
    char buffer[MAX_PATH * 2] = {};
    DWORD size = sizeof buffer;
    if (QueryFullProcessImageNameA(process.Get(), 0, buffer, &size) &&
        platform::SameTextAscii(std::string(buffer, size), wanted)) {
      pids.push_back(entry.pid);
    }
  }
  return pids;
}

}  // namespace qar::e2e
