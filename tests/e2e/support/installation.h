// A throw-away agent installation: its directory, programs, registry, database and worker settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qar::e2e {

// One run of the worker, as QarTab.log records it.
struct WorkerRun {
  std::string parameter;
  std::uint32_t pid;
};

// A fresh directory holding copies of QarSnc.exe, QarTab.exe (the agent starts the
// worker from its own directory) and QarCfg.exe and StringConex for its database "qar.db".
//
// POSIX: QARSNC_HKLM names a .reg file in the directory and XDG_RUNTIME_DIR a
// private directory, so this installation's "QSYNC" never meets a real agent's;
// programs started afterwards inherit both. Windows: the registry of the test
// prefix; the value is removed again at the end. One installation at a time per
// test process: the environment is process-wide.
class Installation {
 public:
  Installation();
  ~Installation();

  const std::string& Dir() const { return dir_; }  // ends with the path separator
  std::string AgentPath() const { return dir_ + "QarSnc.exe"; }
  std::string WorkerPath() const { return dir_ + "QarTab.exe"; }
  std::string AdminToolPath() const { return dir_ + "QarCfg.exe"; }
  std::string DatabaseFile(const std::string& name = "qar.db") const { return dir_ + name; }

  // Stores "StringConex" exactly as given (callers encrypt), or removes it.
  void StoreStringConex(const std::string& stored) const;
  void RemoveStringConex() const;

  void ConfigureWorker(const std::vector<std::string>& lines) const;  // QarTab.cfg, key=value lines
  std::vector<WorkerRun> WorkerRuns() const;
  std::string ReadText(const std::string& name) const;  // empty when the file is not there

 private:
  // Per system: the registry and the runtime directory.
  void PrepareSystem();
  void RestoreSystem();

  std::string dir_;
};

// "Provider=SQLite;Data Source=<file>" with the file as the driver sees it (under Wine: the host's path).
std::string SqliteConnectionString(const std::string& databaseFile);

}  // namespace qar::e2e
