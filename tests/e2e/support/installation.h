// A throw-away agent installation: its directory, programs, registry, database and worker settings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qar::e2e {

// The programs of this build, or empty text for one that was not built.
std::string BuiltAgent();
std::string BuiltWorker();
std::string BuiltAdminTool();

// A fresh directory holding copies of QarSnc.exe and QarTab.exe (so the worker
// is in the agent's directory, where the agent starts it from), and the
// installation's HKEY_LOCAL_MACHINE with StringConex for the database file
// "qar.db" of that directory.
//
// POSIX: QARSNC_HKLM names a .reg file in the directory (the machine key is
// created beside it) and XDG_RUNTIME_DIR a private directory, so this
// installation's "QSYNC" never meets a real agent's; programs started afterwards
// inherit both. Windows: the registry of the test prefix; the value is removed
// again at the end.
//
// One installation at a time per test process: the environment is process-wide.
class Installation {
 public:
  Installation();
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // The directory, ending with the path separator.
  const std::string& Dir() const { return dir_; }
  std::string AgentPath() const;
  std::string WorkerPath() const;
  std::string AdminToolPath() const;  // QarCfg.exe of the build (not copied)
  // A database file in the directory; "qar.db" is the one stored at the start.
  std::string DatabaseFile(const std::string& name = "qar.db") const;
  // "Provider=SQLite;Data Source=<file>" with the file named as the database
  // driver sees it (under Wine: the host's path of the file).
  std::string ConnectionStringFor(const std::string& databaseFile) const;

  // Encrypts and stores a connection string as "StringConex".
  void StoreConnectionString(const std::string& plain);
  // Stores a value exactly as given, not encrypted.
  void StoreRawConnectionValue(const std::string& stored);
  void RemoveConnectionString();

  // Replaces QarTab.cfg (key=value lines).
  void ConfigureWorker(const std::vector<std::string>& lines);
  // The parameter strings and process ids of the worker's runs so far, in order.
  std::vector<std::string> WorkerParameters() const;
  std::vector<std::uint32_t> WorkerPids() const;

  // Text of a file in the directory, empty when it is not there.
  std::string ReadText(const std::string& name) const;

 private:
  // Per operating system: the registry and the runtime directory.
  void PrepareSystem();
  void RestoreSystem();

  std::vector<std::string> WorkerLogLines() const;

  std::string dir_;
};

// The database file name a driver is given for a file (under Wine: the host's path).
std::string DriverFileName(const std::string& file);

}  // namespace qar::e2e
