#include "data/ado_query.h"

#include "data/named_params.h"

namespace qar {

const TNamedParamText& TADOQuery::ParsedSql() {
  if (sql_.Revision() != parsedRevision_) {
    parsed_ = ParseNamedParams(sql_.Text());
    parsedRevision_ = sql_.Revision();
  }
  return parsed_;
}

TParameters& TADOQuery::Parameters() {
  TParameters& parameters = TCustomADODataSet::Parameters();
  parameters.SyncNames(ParsedSql().names);
  return parameters;
}

std::int64_t TADOQuery::ExecSQL() { return Run().rowsAffected; }

TStatementRequest TADOQuery::BuildRequest() {
  const TNamedParamText& parsed = ParsedSql();
  TCustomADODataSet::Parameters().SyncNames(parsed.names);
  TStatementRequest request;
  request.commandText = &parsed.text;
  request.commandType = cmdText;
  request.markerNames = &parsed.names;
  request.recordset = this;
  return request;
}

}  // namespace qar
