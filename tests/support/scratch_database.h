// A test's SQLite database in the temporary directory, named as the test and as the driver open it.
#pragma once

#include <string>

#include "database_files.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::testing {

// An absolute path as the SQLite driver opens it: the path itself, except under Wine,
// whose SQLite ODBC driver is the host's and opens the host's path. That path names the
// same file in this process too while its current drive maps the host's root, as Z: does
// for a program started from a host directory.
inline std::string SqliteDriverPath(const std::string& file) { return platform::HostFileName(file); }

// The database file "<temp>qar_<pid>_<name>" of one test, removed with its logs when it is
// made and when it goes, so that a suite leaves nothing behind wherever it is started.
class TScratchDatabase {
 public:
  explicit TScratchDatabase(const std::string& name)
      : file_(platform::TempDirectory() + "qar_" + std::to_string(platform::CurrentProcessId()) + "_" + name) {
    RemoveDatabaseFiles(file_);
  }
  ~TScratchDatabase() { RemoveDatabaseFiles(file_); }
  TScratchDatabase(const TScratchDatabase&) = delete;
  TScratchDatabase& operator=(const TScratchDatabase&) = delete;

  const std::string& File() const { return file_; }                   // for this process's own calls
  std::string DriverFile() const { return SqliteDriverPath(file_); }  // for a connection string

 private:
  std::string file_;
};

}  // namespace qar::testing
