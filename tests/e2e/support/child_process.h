// Starting a program under test as a child process, with its output in files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
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

// The processes running from exactly this executable file.
std::vector<std::uint32_t> ProcessesOfFile(const std::string& exePath);

// True while a process of this id and executable name (a to z in either case) runs.
inline bool IsRunning(std::uint32_t pid, const std::string& exeName) {
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    if (entry.pid == pid && platform::SameTextAscii(platform::ExtractFileName(entry.exeName), exeName)) return true;
  }
  return false;
}

}  // namespace qar::e2e
