#include "data/ado_query.h"

#include "data/named_params.h"

namespace qar {

TParameters& TADOQuery::Parameters() {
  TParameters& parameters = TCustomADODataSet::Parameters();
  parameters.SyncNames(ParseNamedParams(sql_.Text()).names);
  return parameters;
}

std::int64_t TADOQuery::ExecSQL() { return Run().rowsAffected; }

TStatementRequest TADOQuery::BuildRequest() {
  TNamedParamText parsed = ParseNamedParams(sql_.Text());
  TCustomADODataSet::Parameters().SyncNames(parsed.names);
  TStatementRequest request;
  request.commandText = std::move(parsed.text);
  request.commandType = cmdText;
  request.markerNames = std::move(parsed.names);
  request.recordset = this;
  return request;
}

}  // namespace qar
