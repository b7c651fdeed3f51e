#include "ctrlexecrem_client.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/control_table.h"
#include "data/data_error.h"
#include "platform/module.h"

namespace qar::e2e {

namespace {

// A connection opened for one piece of work and closed with it.
struct Session {
  explicit Session(const std::string& connectionString) { connection.SetConnectionString(connectionString); }
  ~Session() { connection.Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  std::int64_t Run(const std::string& text) {
    TADOCommand command;
    command.SetConnection(&connection);
    command.SetCommandText(text);
    return command.Execute();
  }

  TADOConnection connection;
};

std::string ReadAll(const std::string& file) {
  std::ifstream in(platform::ToNativePath(file), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Rewrites the file's content without replacing the file itself.
void Overwrite(const std::string& file, const std::string& content) {
  std::fstream out(platform::ToNativePath(file), std::ios::in | std::ios::out | std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file);
}

}  // namespace

bool CtrlExecRemClient::TableExists() const {
  Session session(connectionString_);
  TADOQuery query;
  query.SetConnection(&session.connection);
  query.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM");
  try {
    query.Open();
  } catch (const EDataError&) {
    return false;
  }
  query.Close();
  return true;
}

void CtrlExecRemClient::CreateTable() const {
  // As the agent creates it.
  Session session(connectionString_);
  session.Run(JoinStatementLines(kCreateTable));
  session.Run(kCreateStatusIndex);
}

int CtrlExecRemClient::Request(const std::string& operation, const std::string& status) const {
  Session session(connectionString_);
  TADOCommand insert;
  insert.SetConnection(&session.connection);
  insert.SetCommandText(
      "INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM)"
      " VALUES ('E2E', 'SYNC', :DSOPERACAO, :IDSTCTRLEXECREM)");
  insert.Parameters().ParamByName("DSOPERACAO").SetValue(operation);
  insert.Parameters().ParamByName("IDSTCTRLEXECREM").SetValue(status);
  insert.Execute();
  // Nobody else inserts into the test's database.
  TADOQuery last;
  last.SetConnection(&session.connection);
  last.SQL().Add("SELECT MAX(IDCTRLEXECREM) AS ID FROM CTRLEXECREM");
  last.Open();
  return last.FieldByName("ID").AsInteger();
}

void CtrlExecRemClient::SetStatus(int id, const std::string& status) const {
  Session session(connectionString_);
  TADOCommand update;
  update.SetConnection(&session.connection);
  update.SetCommandText("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = :STATUS WHERE IDCTRLEXECREM = :ID");
  update.Parameters().ParamByName("STATUS").SetValue(status);
  update.Parameters().ParamByName("ID").SetValue(id);
  update.Execute();
}

ControlRow CtrlExecRemClient::Read(int id) const {
  Session session(connectionString_);
  TADOQuery query;
  query.SetConnection(&session.connection);
  query.SQL().Add("SELECT IDSTCTRLEXECREM, DSERRO, DTULTATU FROM CTRLEXECREM WHERE IDCTRLEXECREM = :ID");
  query.Parameters().ParamByName("ID").SetValue(id);
  query.Open();
  ControlRow row;
  row.found = !query.IsEmpty();
  row.status = query.FieldByName("IDSTCTRLEXECREM").AsString();
  row.error = query.FieldByName("DSERRO").AsString();
  row.lastUpdate = query.FieldByName("DTULTATU").AsString();
  return row;
}

DatabaseOutage::DatabaseOutage(std::string file) : file_(std::move(file)), content_(ReadAll(file_)) {
  std::string garbage(content_.size(), ' ');
  const std::string text = "This is no database.\n";
  garbage.replace(0, std::min(text.size(), garbage.size()), text, 0, std::min(text.size(), garbage.size()));
  Overwrite(file_, garbage);
  active_ = true;
}

DatabaseOutage::~DatabaseOutage() {
  try {
    End();
  } catch (const std::exception&) {
    // The installation directory goes away with the case anyway.
  }
}

void DatabaseOutage::End() {
  if (!active_) return;
  Overwrite(file_, content_);
  active_ = false;
}

}  // namespace qar::e2e
