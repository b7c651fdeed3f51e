#include "data/ado_command.h"

#include "data/data_error.h"
#include "data/named_params.h"

namespace qar {

TADOCommand::TADOCommand() : commandObject_(parameters_) {}

TADOCommand::~TADOCommand() { SetConnection(nullptr); }

void TADOCommand::SetConnection(TADOConnection* connection) {
  if (connection == connection_) return;
  if (connection_) connection_->DetachCommand(*this);
  connection_ = connection;
  if (connection_) connection_->AttachCommand(*this);
}

void TADOCommand::SetCommandText(std::string text) {
  commandText_ = std::move(text);
  Refresh();
}

void TADOCommand::SetCommandType(TCommandType type) {
  commandType_ = type;
  Refresh();
}

void TADOCommand::SetParamCheck(bool value) {
  paramCheck_ = value;
  Refresh();
}

void TADOCommand::Refresh() {
  markerNames_.clear();
  if (commandType_ == cmdStoredProc) {
    commandObject_.SetCommandText(commandText_);
    commandObject_.SetCommandType(adCmdStoredProc);
    return;
  }
  commandObject_.SetCommandType(commandType_ == cmdTable ? adCmdTable : adCmdText);
  if (!paramCheck_) {
    commandObject_.SetCommandText(commandText_);
    return;
  }
  TNamedParamText parsed = ParseNamedParams(commandText_);
  commandObject_.SetCommandText(std::move(parsed.text));
  markerNames_ = std::move(parsed.names);
  parameters_.SyncNames(markerNames_);
}

std::int64_t TADOCommand::Execute() {
  if (connection_ == nullptr) throw EDataError("Missing Connection or ConnectionString");
  TStatementRequest request;
  request.commandText = &commandObject_.CommandText();
  request.commandType = commandType_ == cmdStoredProc ? cmdStoredProc : cmdText;
  request.markerNames = &markerNames_;
  request.parameters = &parameters_;
  request.command = &commandObject_;
  return connection_->RunStatement(request).rowsAffected;
}

}  // namespace qar
