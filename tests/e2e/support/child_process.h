// Starting a program under test with its output in files, and bounded waiting for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"

namespace qar::e2e {

// Asks `done` again, with short real pauses, until it holds or about `seconds` have
// passed, and returns its last answer; an exception (a database busy or not there
// yet) counts as "not yet". It waits for other processes and measures nothing.
inline bool WaitUntil(const std::function<bool()>& done, double seconds) {
  const platform::TDateTime end = platform::Now() + seconds / 86400.0;
  for (bool last = false; !last; platform::SystemClock().Sleep(std::chrono::milliseconds(100))) {
    last = platform::Now() >= end;
    try {
      if (done()) return true;
    } catch (const std::exception&) {
    }
  }
  return false;
}

// One started program, its standard output and error in <outputBase>.out and .err.
// The destructor ends it when it still runs.
class ChildProcess {
 public:
  ChildProcess(const std::string& path, const std::vector<std::string>& args, const std::string& workDir,
               const std::string& outputBase);
  ~ChildProcess() { Stop(), Wait(30); }

  std::uint32_t Pid() const { return pid_; }
  std::optional<int> ExitCode();  // nothing while it runs; POSIX: 128 + the signal that ended it
  bool Running() { return !ExitCode(); }
  void Stop() {
    if (Running()) platform::TerminateProcessById(pid_);  // still ours: not reaped yet
  }
  std::optional<int> Wait(double seconds) {  // the exit code, once it came within about `seconds`
    WaitUntil([this] { return !Running(); }, seconds);
    return ExitCode();
  }

 private:
  std::uint32_t pid_ = 0;
  std::optional<int> exitCode_;
  std::shared_ptr<void> handle_;  // Windows: the process, kept open so its exit code stays readable
};

// How many of this user's processes run exactly this executable file.
inline std::size_t ProcessesOfFile(const std::string& exePath) { return platform::FindProcessesOfFile(exePath).size(); }

}  // namespace qar::e2e
