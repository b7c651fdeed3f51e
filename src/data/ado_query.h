// TADOQuery: a data set defined by SQL text lines with ":NAME" parameters.
#pragma once

#include <cstdint>
#include <string>

#include "data/custom_ado_data_set.h"
#include "data/named_params.h"
#include "framework/strings.h"

namespace qar {

// The statement is SQL().Text(): every line followed by CR LF. Its ":NAME" markers
// become Parameters (bound by name) and are reported and sent as "?".
//
//   query.SQL().Add("SELECT A FROM T WHERE ID = :ID");
//   query.Parameters().ParamByName("ID").SetValue(17);
//   query.Open();
//   std::string a = query.FieldByName("A").AsString();   // "" when no row
class TADOQuery : public TCustomADODataSet {
 public:
  std::string ClassName() const override { return "TADOQuery"; }

  TStrings& SQL() { return sql_; }
  const TStrings& SQL() const { return sql_; }

  // Parameters, brought in line with the current SQL text first.
  TParameters& Parameters();

  // Runs the statement without opening a result; returns the rows affected.
  std::int64_t ExecSQL();

 protected:
  TStatementRequest BuildRequest() override;

 private:
  // The SQL text with its markers rewritten, parsed again only when the text changed.
  const TNamedParamText& ParsedSql();

  TStrings sql_;
  std::uint64_t parsedRevision_ = 0;  // the revision of sql_ that parsed_ is made of (none: empty)
  TNamedParamText parsed_;
};

}  // namespace qar
