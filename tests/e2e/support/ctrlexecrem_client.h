// The control table CTRLEXECREM as requesters and operators use it: create, request, cancel, read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/control_table.h"
#include "data/data_error.h"

namespace qar::e2e {

// IDSTCTRLEXECREM, DSERRO and DTULTATU (empty when not set) of one row.
struct ControlRow {
  std::string status, error, lastUpdate;
};

// Each call opens the database for its one statement, so the test never holds
// the file while the agent works on it.
class CtrlExecRemClient {
 public:
  explicit CtrlExecRemClient(std::string connectionString) : connectionString_(std::move(connectionString)) {}

  bool TableExists() const try {
    FirstRow("SELECT COUNT(*) AS N FROM CTRLEXECREM", {});
    return true;
  } catch (const EDataError&) {
    return false;
  }

  void CreateTable() const {
    Execute(JoinStatementLines(kCreateTable));
    Execute(kCreateStatusIndex);
  }

  // Inserts a pending row as a requester does (DTINCLUSAO left to its default); returns its id.
  int Request(const std::string& operation) const {
    Execute("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM) VALUES ('E2E', 'SYNC', '" +
            operation + "', 'P')");
    // Nobody else inserts into the test's database.
    return std::stoi(FirstRow("SELECT MAX(IDCTRLEXECREM) AS ID FROM CTRLEXECREM", {"ID"})[0]);
  }

  // Holds the database's write lock (an exclusive transaction) until it is destroyed.
  std::unique_ptr<TADOConnection> Lock() const {
    auto connection = std::make_unique<TADOConnection>();
    connection->SetConnectionString(connectionString_);
    connection->Execute("BEGIN EXCLUSIVE");
    return connection;
  }

  void SetStatus(int id, const std::string& status) const {
    Execute("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = '" + status + "' WHERE IDCTRLEXECREM = " + std::to_string(id));
  }

  ControlRow Read(long long id) const {
    const std::vector<std::string> row = FirstRow(
        "SELECT IDSTCTRLEXECREM, DSERRO, DTULTATU FROM CTRLEXECREM WHERE IDCTRLEXECREM = " + std::to_string(id),
        {"IDSTCTRLEXECREM", "DSERRO", "DTULTATU"});
    return {row[0], row[1], row[2]};
  }

  void Execute(const std::string& text) const {
    TADOConnection connection;
    connection.SetConnectionString(connectionString_);
    connection.Execute(text);
  }

 private:
  std::vector<std::string> FirstRow(const std::string& text, const std::vector<std::string>& fields) const {
    TADOConnection connection;
    connection.SetConnectionString(connectionString_);
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add(text);
    query.Open();
    std::vector<std::string> values;
    for (const std::string& field : fields) values.push_back(query.FieldByName(field).AsString());
    return values;
  }

  std::string connectionString_;
};

}  // namespace qar::e2e
