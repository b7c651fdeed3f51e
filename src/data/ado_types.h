// The values and objects that connection notifications carry: statuses, command types, error and command objects.
#pragma once

#include <string>

#include "data/parameters.h"

namespace qar {

// Event status of a notification: 1 means errors occurred. A will-execute handler
// may set esCancel to stop the statement.
enum TEventStatus { esOK = 0, esErrorsOccured = 1, esCantDeny = 2, esCancel = 3, esUnwantedEvent = 4 };

// The framework's command types, as the will-execute notification reports them.
enum TCommandType {
  cmdUnknown = 0,
  cmdText = 1,
  cmdTable = 2,
  cmdStoredProc = 3,
  cmdFile = 4,
  cmdTableDirect = 5,
};

// The command object's own command types (the database layer's numbering).
enum TADOCommandType { adCmdText = 1, adCmdTable = 2, adCmdStoredProc = 4, adCmdUnknown = 8 };

enum TCursorType { ctUnspecified = 0, ctOpenForwardOnly = 1, ctKeyset = 2, ctDynamic = 3, ctStatic = 4 };
enum TADOLockType { ltUnspecified = 0, ltReadOnly = 1, ltPessimistic = 2, ltOptimistic = 3, ltBatchOptimistic = 4 };
using TExecuteOptions = int;

// The error object of a failed connect or statement.
struct TADOError {
  std::string Description;  // the server's text
  std::string SQLState;
  long NativeError = 0;
};

// The command object of a TADOCommand: its statement as sent (named markers as "?")
// or its procedure name, its command type and its parameters.
class TADOCommandObject {
 public:
  explicit TADOCommandObject(TParameters& parameters) : parameters_(parameters) {}

  const std::string& CommandText() const { return commandText_; }
  TADOCommandType CommandType() const { return commandType_; }
  TParameters& Parameters() const { return parameters_; }

  void SetCommandText(std::string text) { commandText_ = std::move(text); }
  void SetCommandType(TADOCommandType type) { commandType_ = type; }

 private:
  std::string commandText_;
  TADOCommandType commandType_ = adCmdText;
  TParameters& parameters_;
};

}  // namespace qar
