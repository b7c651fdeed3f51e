// TADOConnection: the database connection component its queries, commands and stored procedures run through.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/ado_types.h"
#include "data/connection_object.h"
#include "framework/component.h"
#include "framework/event.h"

namespace qar {

class TADOConnection;
class TADOCommand;
class TCustomADODataSet;

using TConnectionNotifyEvent = TEvent<void(TADOConnection& connection)>;
// connection; error object (null when none); status (in/out)
using TConnectCompleteEvent =
    TEvent<void(TADOConnection& connection, const TADOError* error, TEventStatus& status)>;
// connection; command text (in/out); cursor type; lock type; command type (in/out);
// execute options; status (in/out); command object (null for a data set); recordset
// (the data set being opened, null for a command)
using TWillExecuteEvent =
    TEvent<void(TADOConnection& connection, std::string& commandText, TCursorType& cursorType,
                TADOLockType& lockType, TCommandType& commandType, TExecuteOptions& executeOptions,
                TEventStatus& status, TADOCommandObject* command, TCustomADODataSet* recordset)>;
// connection; records affected; error object (null when none); status (in/out);
// command object (null for a data set); recordset
using TExecuteCompleteEvent =
    TEvent<void(TADOConnection& connection, std::int64_t recordsAffected, const TADOError* error,
                TEventStatus& status, TADOCommandObject* command, TCustomADODataSet* recordset)>;

// One statement as a component hands it to its connection. The text and the names
// are the component's own, read as the statement goes out.
struct TStatementRequest {
  const std::string* commandText = nullptr;               // as reported: "?" markers, or the procedure name
  TCommandType commandType = cmdText;
  const std::vector<std::string>* markerNames = nullptr;  // names of the "?" markers in order (none: no markers)
  TParameters* parameters = nullptr;        // bound by name (text) or in order (procedure)
  TADOCommandObject* command = nullptr;
  TCustomADODataSet* recordset = nullptr;
  std::optional<std::size_t> maxRows;       // rows to fetch at most (a text statement's)
};

// A closed connection connects on first use. Every connect runs BeforeConnect
// (which may set the connection string) and then OnConnectComplete; every statement
// raises OnWillExecute before and OnExecuteComplete after it, also when it fails
// (status esErrorsOccured with the error object), and the failure then reaches the
// statement's caller as EDataError. A failure raised inside a handler reaches the
// caller unchanged.
//
//   TADOConnection& connection = form.CreateComponent<TADOConnection>();
//   connection.SetConnectionString("Provider=SQLite;Data Source=/var/lib/qarsnc/qar.db");
//   TADOQuery& query = form.CreateComponent<TADOQuery>();
//   query.SetConnection(&connection);
class TADOConnection : public TComponent {
 public:
  TADOConnection();
  ~TADOConnection() override;
  std::string ClassName() const override { return "TADOConnection"; }

  // The connection string of the current connection object.
  std::string ConnectionString() const { return object_->ConnectionString(); }
  void SetConnectionString(std::string connectionString);
  bool LoginPrompt() const { return loginPrompt_; }
  void SetLoginPrompt(bool value) { loginPrompt_ = value; }  // there is never a prompt

  // The name of the component that owns the connection (its data module); empty without one.
  std::string OwnerName() const { return Owner() ? Owner()->Name() : std::string(); }

  bool Connected() const { return object_->Connected(); }
  void SetConnected(bool value) { value ? Open() : Close(); }
  void Open();
  void Close();  // closes the active data sets first

  // Runs a statement text on the connection itself. Its notifications carry a
  // command object of their own holding the text, without parameters.
  std::int64_t Execute(const std::string& commandText);

  int BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const { return object_->InTransaction(); }

  std::shared_ptr<TConnectionObject> ConnectionObject() const { return object_; }
  // Works through another connection's object from now on (null: a fresh one).
  void SetConnectionObject(std::shared_ptr<TConnectionObject> object);

  // The commands and data sets that use this connection, in the order they were attached.
  int GetCommandCount() const { return static_cast<int>(commands_.size()); }
  TADOCommand& GetCommand(int index) const;
  int DataSetCount() const { return static_cast<int>(dataSets_.size()); }
  TCustomADODataSet& GetADODataSet(int index) const;

  TConnectionNotifyEvent BeforeConnect;
  TConnectionNotifyEvent AfterConnect;
  TConnectCompleteEvent OnConnectComplete;
  TWillExecuteEvent OnWillExecute;
  TExecuteCompleteEvent OnExecuteComplete;

  // Used by the components: runs one statement with its notifications.
  TDriverResult RunStatement(TStatementRequest& request);
  void AttachCommand(TADOCommand& command);
  void DetachCommand(TADOCommand& command);
  void AttachDataSet(TCustomADODataSet& dataSet);
  void DetachDataSet(TCustomADODataSet& dataSet);

 private:
  std::shared_ptr<TConnectionObject> object_;
  bool loginPrompt_ = false;
  std::vector<TADOCommand*> commands_;
  std::vector<TCustomADODataSet*> dataSets_;
  std::vector<TDriverParameter> spareParameters_;  // empty; the room of the last statement's, for the next
};

}  // namespace qar
