#include "data/ado_connection.h"

#include <algorithm>

#include "data/ado_command.h"
#include "data/custom_ado_data_set.h"
#include "data/data_error.h"

namespace qar {

namespace {

// The request's parameters as the driver binds them, into `bound` (emptied first).
void DriverParameters(const TStatementRequest& request, std::vector<TDriverParameter>& bound) {
  bound.clear();
  auto add = [&bound](const TParameter& parameter) {
    const bool output = parameter.Direction() == pdOutput || parameter.Direction() == pdReturnValue;
    bound.push_back(TDriverParameter{parameter.Name(), parameter.DataType(), parameter.Direction(), parameter.Size(),
                                     output ? Variant::Null() : parameter.BindValue()});
  };
  if (request.commandType == cmdStoredProc) {
    if (request.parameters)
      for (int i = 0; i < request.parameters->Count(); ++i) add(request.parameters->Items(i));
    return;
  }
  if (request.markerNames == nullptr) return;
  for (const std::string& name : *request.markerNames) {
    const TParameter* parameter = request.parameters ? request.parameters->FindParam(name) : nullptr;
    if (parameter == nullptr) throw EDataError("Parameter '" + name + "' not found", "07002");
    add(*parameter);
  }
}

TADOError ErrorOf(const std::exception& failure) {
  TADOError error{failure.what(), "HY000", 0};
  if (const auto* dataError = dynamic_cast<const EDataError*>(&failure)) {
    error.SQLState = dataError->SqlState();
    error.NativeError = dataError->NativeError();
  }
  return error;
}

}  // namespace

TADOConnection::TADOConnection() : object_(std::make_shared<TConnectionObject>()) {}

TADOConnection::~TADOConnection() {
  // Components that outlive their connection are left without one.
  for (TADOCommand* command : std::vector<TADOCommand*>(commands_)) command->SetConnection(nullptr);
  for (TCustomADODataSet* dataSet : std::vector<TCustomADODataSet*>(dataSets_))
    dataSet->SetConnection(nullptr);
}

void TADOConnection::SetConnectionString(std::string connectionString) {
  object_->SetConnectionString(std::move(connectionString));
}

void TADOConnection::Open() {
  if (Connected()) return;
  if (BeforeConnect) BeforeConnect(*this);
  TEventStatus status = esOK;
  try {
    object_->Open();
  } catch (const std::exception& failure) {
    const TADOError error = ErrorOf(failure);
    status = esErrorsOccured;
    if (OnConnectComplete) OnConnectComplete(*this, &error, status);
    throw;
  }
  if (OnConnectComplete) OnConnectComplete(*this, nullptr, status);
  if (AfterConnect) AfterConnect(*this);
}

void TADOConnection::Close() {
  for (TCustomADODataSet* dataSet : dataSets_)
    if (dataSet->Active()) dataSet->Close();
  object_->Close();
}

std::int64_t TADOConnection::Execute(const std::string& commandText) {
  TParameters noParameters;
  TADOCommandObject command(noParameters);
  command.SetCommandText(commandText);
  TStatementRequest request;
  request.commandText = &commandText;
  request.command = &command;
  return RunStatement(request).rowsAffected;
}

int TADOConnection::BeginTrans() {
  Open();
  return object_->BeginTrans();
}
void TADOConnection::CommitTrans() { object_->CommitTrans(); }
void TADOConnection::RollbackTrans() { object_->RollbackTrans(); }

void TADOConnection::SetConnectionObject(std::shared_ptr<TConnectionObject> object) {
  object_ = object ? std::move(object) : std::make_shared<TConnectionObject>();
}

TADOCommand& TADOConnection::GetCommand(int index) const {
  if (index < 0 || index >= GetCommandCount())
    throw EDataError("List index out of bounds (" + std::to_string(index) + ")");
  return *commands_[static_cast<std::size_t>(index)];
}

TCustomADODataSet& TADOConnection::GetADODataSet(int index) const {
  if (index < 0 || index >= DataSetCount())
    throw EDataError("List index out of bounds (" + std::to_string(index) + ")");
  return *dataSets_[static_cast<std::size_t>(index)];
}

TDriverResult TADOConnection::RunStatement(TStatementRequest& request) {
  Open();
  // A will-execute handler may swap the connection's object: it is held for the
  // statement then. Without one nothing can swap it before the statement has run.
  std::shared_ptr<TConnectionObject> held;
  TConnectionObject* const object = OnWillExecute ? (held = object_).get() : object_.get();
  TEventStatus status = esOK;
  TCursorType cursorType = request.recordset ? ctKeyset : ctUnspecified;
  TADOLockType lockType = request.recordset ? ltOptimistic : ltUnspecified;
  TExecuteOptions options = 0;
  // The handler may rewrite the text: it gets a copy, which then goes out.
  std::string rewritten;
  const std::string* text = request.commandText;
  if (OnWillExecute) {
    rewritten = *text;
    text = &rewritten;
    OnWillExecute(*this, rewritten, cursorType, lockType, request.commandType, options, status, request.command,
                  request.recordset);
  }
  if (request.recordset) request.recordset->source_ = *text;

  TDriverResult result;
  // The last statement's list serves again; a statement run from a handler meanwhile
  // finds none and makes its own.
  std::vector<TDriverParameter> bound = std::move(spareParameters_);
  try {
    if (status == esCancel) throw EDataError("Operation was cancelled.", "HY008");
    DriverParameters(request, bound);
    result = request.commandType == cmdStoredProc ? object->ExecuteProcedure(*text, bound)
                                                  : object->Execute(*text, bound, request.maxRows);
  } catch (const std::exception& failure) {
    const TADOError error = ErrorOf(failure);
    status = esErrorsOccured;
    if (OnExecuteComplete)
      OnExecuteComplete(*this, -1, &error, status, request.command, request.recordset);
    throw;
  }
  if (request.commandType == cmdStoredProc && request.parameters) {
    for (std::size_t i = 0; i < bound.size(); ++i)
      if (bound[i].direction != pdInput && bound[i].direction != pdUnknown)
        request.parameters->Items(static_cast<int>(i)).SetValue(bound[i].value);
  }
  bound.clear();  // no value is kept past its statement; the room is
  spareParameters_ = std::move(bound);
  if (OnExecuteComplete)
    OnExecuteComplete(*this, result.rowsAffected, nullptr, status, request.command, request.recordset);
  return result;
}

void TADOConnection::AttachCommand(TADOCommand& command) {
  if (std::find(commands_.begin(), commands_.end(), &command) == commands_.end())
    commands_.push_back(&command);
}
void TADOConnection::DetachCommand(TADOCommand& command) {
  commands_.erase(std::remove(commands_.begin(), commands_.end(), &command), commands_.end());
}
void TADOConnection::AttachDataSet(TCustomADODataSet& dataSet) {
  if (std::find(dataSets_.begin(), dataSets_.end(), &dataSet) == dataSets_.end())
    dataSets_.push_back(&dataSet);
}
void TADOConnection::DetachDataSet(TCustomADODataSet& dataSet) {
  dataSets_.erase(std::remove(dataSets_.begin(), dataSets_.end(), &dataSet), dataSets_.end());
}

}  // namespace qar
