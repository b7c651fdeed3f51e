// A throw-away agent installation, the programs started on it, and bounded waiting for them.
#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/GeralQar.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"

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

// "Provider=SQLite;Data Source=<file>" with the file as the driver sees it (under Wine: the host's path).
std::string SqliteConnectionString(const std::string& databaseFile);

// A fresh directory holding copies of QarSnc.exe, QarTab.exe (the agent starts the
// worker from its own directory) and QarCfg.exe, and StringConex for its database
// "qar.db". POSIX: QARSNC_HKLM names a .reg file in the directory and XDG_RUNTIME_DIR
// a private directory, so this installation's "QSYNC" never meets another agent's;
// programs started afterwards inherit both. Windows: the registry of the test
// prefix, the value removed again at the end. One at a time per test process.
class Installation {
 public:
  Installation();
  ~Installation();

  const std::string& Dir() const { return dir_; }  // ends with the path separator
  std::string AgentPath() const { return dir_ + "QarSnc.exe"; }
  std::string WorkerPath() const { return dir_ + "QarTab.exe"; }
  std::string AdminToolPath() const { return dir_ + "QarCfg.exe"; }
  std::string DatabaseFile() const { return dir_ + "qar.db"; }

  // Stores "StringConex" exactly as given (callers encrypt), or removes it.
  void StoreStringConex(const std::string& stored) const {
    platform::RegistryKey key;
    if (key.Open(config::sSiteWebSrvKey, true) != platform::RegStatus::kOk ||
        key.WriteString(config::kStringConexValue, stored) != platform::RegStatus::kOk) {
      throw std::runtime_error("cannot store StringConex: " + key.LastError());
    }
  }
  void RemoveStringConex() const {
    platform::RegistryKey key;
    if (key.Open(config::sSiteWebSrvKey, false) == platform::RegStatus::kOk) key.DeleteValue(config::kStringConexValue);
  }

  void ConfigureWorker(const std::vector<std::string>& lines) const {  // QarTab.cfg, key=value lines
    std::ofstream out(platform::ToNativePath(dir_ + "QarTab.cfg"), std::ios::trunc | std::ios::binary);
    for (const std::string& line : lines) out << line << '\n';
  }
  std::string ReadText(const std::string& name) const {  // empty when the file is not there
    std::ifstream in(platform::ToNativePath(dir_ + name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string dir_;
};

}  // namespace qar::e2e
