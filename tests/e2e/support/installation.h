// A throw-away agent installation: its directory, programs, settings, database and worker settings.
#pragma once

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"
#include "config/GeralQar.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/secret.h"
#include "scratch_database.h"

namespace qar::e2e {

// Empty: the default write-ahead log. "Delete": the rollback journal, for a case whose file
// is removed or locked against readers under the agent, which the write-ahead log does not serve.
inline std::string gSqliteJournalMode;
inline std::string WithJournalMode(std::string connectionString) {
  return gSqliteJournalMode.empty() ? connectionString : connectionString + ";Journal Mode=" + gSqliteJournalMode;
}

// "Provider=SQLite;Data Source=<file>" with the file as the driver sees it (under Wine: the host's path),
// and "Journal Mode=<mode>" while gSqliteJournalMode names one.
inline std::string SqliteConnectionString(const std::string& databaseFile) {
  return WithJournalMode("Provider=SQLite;Data Source=" + ::qar::testing::SqliteDriverPath(databaseFile));
}

// A fresh directory holding copies of QarSnc.exe, QarTab.exe (the agent starts the
// worker from its own directory) and QarCfg.exe, and StringConex for its database
// "qar.db". POSIX: QARSNC_HKLM names a .reg file in the directory and XDG_RUNTIME_DIR
// a private directory, so this installation's "QSYNC" never meets another agent's;
// programs started afterwards inherit both. Windows: the registry of the test
// prefix, the value removed again at the end. One at a time per test process.
// Under `base`, by default the temporary directory.
class Installation {
 public:
  explicit Installation(const std::string& base = platform::TempDirectory());
  ~Installation();

  const std::string& Dir() const { return dir_; }  // ends with the path separator
  std::string AgentPath() const { return dir_ + "QarSnc.exe"; }
  std::string WorkerPath() const { return dir_ + "QarTab.exe"; }
  std::string AdminToolPath() const { return dir_ + "QarCfg.exe"; }
  std::string DatabaseFile(const std::string& name = "qar.db") const { return dir_ + name; }
  std::string LogDir() const { return dir_ + "logs" + platform::kPathDelim; }  // TmpFileDir

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

// For one case: the rollback journal, in StringConex for the agent and the tool and in the
// case's own connection strings. Made before anything opens the database.
class RollbackJournalCase {
 public:
  explicit RollbackJournalCase(const Installation& installation) {
    gSqliteJournalMode = "Delete";
    installation.StoreStringConex(platform::EncryptSecret(SqliteConnectionString(installation.DatabaseFile())));
  }
  ~RollbackJournalCase() { gSqliteJournalMode.clear(); }
  RollbackJournalCase(const RollbackJournalCase&) = delete;
  RollbackJournalCase& operator=(const RollbackJournalCase&) = delete;
};

}  // namespace qar::e2e
