// Starting a program under test as a child process, with its output in files.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qar::e2e {

// One started program. Its standard output and error go to the files named at
// the start; the destructor ends it (when it still runs) and reaps it, so a
// failed case leaves nothing behind.
//
// POSIX: posix_spawn, waitpid; the child inherits this process's environment.
// Windows: CreateProcessA with the two files as inherited handles; the process
// handle is kept until the end, so the exit code stays readable.
//
//   ChildProcess agent(exe, {}, dir, dir + "out.txt", dir + "err.txt");
//   std::optional<int> code = agent.Wait(10);
class ChildProcess {
 public:
  ChildProcess(const std::string& path, const std::vector<std::string>& args, const std::string& workDir,
               const std::string& stdoutFile, const std::string& stderrFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  std::uint32_t Pid() const;
  bool Running();
  // The exit code once the process has ended, waiting about `seconds` for it;
  // nothing when it still runs then.
  std::optional<int> Wait(double seconds);
  // Ends the process at once (POSIX: SIGKILL) and reaps it.
  void Kill();
  // The exit code, nothing while it runs.
  std::optional<int> ExitCode();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The processes running from exactly this executable file (POSIX: /proc/<pid>/exe;
// Windows: the image file name of each process of the snapshot).
std::vector<std::uint32_t> ProcessesOfFile(const std::string& exePath);

// Every running process with this executable name (its file-name part, ignoring
// the case of a to z).
std::vector<std::uint32_t> ProcessesNamed(const std::string& exeName);

// True while a process of this id and executable name runs.
bool IsRunning(std::uint32_t pid, const std::string& exeName);

}  // namespace qar::e2e
