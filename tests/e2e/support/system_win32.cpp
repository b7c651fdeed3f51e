// Windows: children through CreateProcessA with inherited file handles.
#include <windows.h>

#include <memory>
#include <stdexcept>

#include "installation.h"

namespace qar::e2e {

namespace {

using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;

Handle OpenOutput(const std::string& file) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + file);
  return Handle(handle, &CloseHandle);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::string& workDir, const std::string& outputBase) {
  const Handle out = OpenOutput(outputBase + ".out");
  const Handle err = OpenOutput(outputBase + ".err");
  // Plain quotes do: no argument of the cases holds a quote or ends with a backslash.
  std::string commandLine = "\"" + path + "\"";
  for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      workDir.c_str(), &startup, &info)) {
    throw std::runtime_error("cannot start " + path + ": error " + std::to_string(GetLastError()));
  }
  CloseHandle(info.hThread);
  handle_.reset(info.hProcess, &CloseHandle);
  pid_ = info.dwProcessId;
}

std::optional<int> ChildProcess::ExitCode() {
  DWORD code = 0;
  if (!exitCode_ && WaitForSingleObject(handle_.get(), 0) == WAIT_OBJECT_0 && GetExitCodeProcess(handle_.get(), &code)) {
    exitCode_ = static_cast<int>(code);
  }
  return exitCode_;
}

}  // namespace qar::e2e
