// The control table CTRLEXECREM as requesters and operators use it: create, request, cancel, read.
#pragma once

#include <string>

namespace qar::e2e {

// One row as the test reads it back.
struct ControlRow {
  bool found = false;
  std::string status;      // IDSTCTRLEXECREM
  std::string error;       // DSERRO
  std::string lastUpdate;  // DTULTATU, empty when not set
};

// Each call opens the database, runs its statement and closes it again, so the
// test never holds the file while the agent works on it.
class CtrlExecRemClient {
 public:
  explicit CtrlExecRemClient(std::string connectionString) : connectionString_(std::move(connectionString)) {}

  bool TableExists() const;
  void CreateTable() const;
  // Inserts a row as a requester does (DTINCLUSAO left to its default); returns its id.
  int Request(const std::string& operation, const std::string& status = "P") const;
  void SetStatus(int id, const std::string& status) const;
  ControlRow Read(int id) const;

 private:
  std::string connectionString_;
};

// Makes a database file unreadable in place (its content replaced by text that is
// no database) until End() or the destructor puts the content back. In place, so
// that a connection that holds the file open meets the damage too.
class DatabaseOutage {
 public:
  explicit DatabaseOutage(std::string file);
  ~DatabaseOutage();
  DatabaseOutage(const DatabaseOutage&) = delete;
  DatabaseOutage& operator=(const DatabaseOutage&) = delete;
  void End();

 private:
  std::string file_;
  std::string content_;
  bool active_ = false;
};

}  // namespace qar::e2e
