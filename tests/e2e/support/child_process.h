// Starting a program under test as a child process, with its output in files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/process.h"
#include "wait_until.h"

namespace qar::e2e {

// One started program; its standard output and error go to <outputBase>.out and
// <outputBase>.err. The destructor ends it when it still runs, so a failed case
// leaves nothing behind.
class ChildProcess {
 public:
  ChildProcess(const std::string& path, const std::vector<std::string>& args, const std::string& workDir,
               const std::string& outputBase);
  ~ChildProcess() {
    if (Running() && platform::TerminateProcessById(pid_).ok) Wait(30);
  }

  std::uint32_t Pid() const { return pid_; }
  std::optional<int> ExitCode();  // nothing while it runs
  bool Running() { return !ExitCode(); }
  // The exit code, waiting about `seconds` for the end.
  std::optional<int> Wait(double seconds) {
    WaitUntil([this] { return !Running(); }, seconds);
    return ExitCode();
  }

 private:
  std::uint32_t pid_ = 0;
  std::optional<int> exitCode_;
  std::shared_ptr<void> handle_;  // Windows: the process, kept open so its exit code stays readable
};

// The ids of this user's processes running exactly this executable file.
inline std::vector<std::uint32_t> ProcessesOfFile(const std::string& exePath) {
  std::vector<std::uint32_t> pids;
  for (const platform::TProcessHandle& process : platform::FindProcessesOfFile(exePath)) pids.push_back(process.Pid());
  return pids;
}

// Ends every process of this user running the file, through handles taken while finding them.
inline void EndProcessesOfFile(const std::string& exePath) {
  for (const platform::TProcessHandle& process : platform::FindProcessesOfFile(exePath)) process.Terminate();
}

}  // namespace qar::e2e
