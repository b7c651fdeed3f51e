// TADOCommand: a statement or stored procedure executed on a connection without a result set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/ado_connection.h"
#include "data/ado_types.h"
#include "data/parameters.h"
#include "framework/component.h"

namespace qar {

// Setting the command text collects its ":NAME" markers into Parameters (a parameter
// already declared under a name keeps its declaration); the command object then holds
// the text with "?" markers, which is what the connection reports and sends.
//
//   command.SetConnection(&connection);
//   command.SetCommandText("UPDATE T SET A = 1 WHERE ID = :ID");
//   command.Parameters().ParamByName("ID").SetValue(17);
//   command.Execute();
class TADOCommand : public TComponent {
 public:
  TADOCommand();
  ~TADOCommand() override;
  std::string ClassName() const override { return "TADOCommand"; }

  TADOConnection* Connection() const { return connection_; }
  void SetConnection(TADOConnection* connection);

  const std::string& CommandText() const { return commandText_; }
  void SetCommandText(std::string text);
  TCommandType CommandType() const { return commandType_; }
  void SetCommandType(TCommandType type);
  int CommandTimeout() const { return commandTimeout_; }
  void SetCommandTimeout(int seconds) { commandTimeout_ = seconds; }  // 0: no limit
  bool ParamCheck() const { return paramCheck_; }
  void SetParamCheck(bool value);

  TParameters& Parameters() { return parameters_; }
  TADOCommandObject& CommandObject() { return commandObject_; }

  // Runs the statement; returns the rows affected (-1 when the statement reports none).
  std::int64_t Execute();

 private:
  void Refresh();

  TADOConnection* connection_ = nullptr;
  std::string commandText_;
  TCommandType commandType_ = cmdText;
  int commandTimeout_ = 30;
  bool paramCheck_ = true;
  std::vector<std::string> markerNames_;
  TParameters parameters_;
  TADOCommandObject commandObject_;
};

}  // namespace qar
