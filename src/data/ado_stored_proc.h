// TADOStoredProc: a data set or call that runs a stored procedure by name.
#pragma once

#include <string>

#include "data/custom_ado_data_set.h"

namespace qar {

// Its command text is the procedure name; its parameters are declared by the caller
// in the procedure's order (a return value first), and output values are read back
// into them after the call.
class TADOStoredProc : public TCustomADODataSet {
 public:
  std::string ClassName() const override { return "TADOStoredProc"; }

  const std::string& ProcedureName() const { return procedureName_; }
  void SetProcedureName(std::string name) { procedureName_ = std::move(name); }
  const std::string& CommandText() const { return procedureName_; }

  // Calls the procedure without opening a result.
  void ExecProc() { Run(); }

 protected:
  TStatementRequest BuildRequest() override {
    TStatementRequest request;
    request.commandText = &procedureName_;
    request.commandType = cmdStoredProc;
    request.recordset = this;
    return request;
  }

 private:
  std::string procedureName_;
};

}  // namespace qar
