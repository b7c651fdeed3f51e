// TDataSetProvider: serves a query's records and parameters to remote clients, runs its statement, applies their changes to one table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/data_packet.h"
#include "framework/provider.h"

namespace qar {

// A provider over a query (records, parameters, execute, updates) or a command
// (parameters and execute only). The forms it reads and returns are those of
// data_packet.h. The query or command, and its connection, must live as long as the
// provider: create them first in the same data module.
//
//   TADOQuery& query = module.CreateComponent<TADOQuery>();
//   query.SetConnection(&connection);
//   query.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO WHERE PRECO >= :MINIMO");
//   TDataSetProvider& provider = module.CreateComponent<TDataSetProvider>();
//   provider.SetName("dspProdutos");
//   provider.SetDataSet(&query);
//   provider.SetTableName("PRODUTO");   // where deltas and row requests go
//   provider.SetKeyFields({"ID"});      // how a row is found
//
// GetRecords: sets the client's parameter values, opens the query, returns the first
//   `count` rows (-1 all, 0 none: only the fields) as a data packet, their number in
//   recsOut, and closes the query. The field types follow all the result's rows, so
//   they are the same whatever the count. `options` is not used.
// GetRecords and Execute use the client's parameter values for that call only: the
//   values the parameters had before come back when it ends.
// GetParams: the statement's parameters (second parameter form).
// Execute: sets the client's parameter values, runs the statement, and puts the
//   parameters that return a value back into `params` (second form).
// RowRequest: `row` is a data packet of one row naming the columns to read and
//   holding the key fields; returns a data packet of that row as the table holds it
//   now (no row when it is gone). `requestType` is not used.
// ApplyUpdates: applies the delta's rows in order, each as one parameterised
//   statement on the table, all in one transaction on the query's connection (a
//   transaction already open there is joined). A row whose statement fails, or whose
//   key finds no row, counts as an error and is returned with its text. Once the
//   count exceeds `maxErrors` no further row is tried and nothing is kept: the whole
//   transaction is rolled back (so a negative maximum keeps nothing). Otherwise the
//   rest is committed. `errorCount` is the number of failed rows, or -1 when the
//   delta holds no row (nothing was applied, nothing can fail). A key that finds more
//   than one row rolls everything back and fails the call.
// A client's command text is refused: a provider runs only its own statement. Every
// refusal (EProviderError) comes before any statement runs.
class TDataSetProvider : public TCustomProvider {
 public:
  std::string ClassName() const override { return "TDataSetProvider"; }

  TADOQuery* DataSet() const { return dataSet_; }
  void SetDataSet(TADOQuery* query) { dataSet_ = query; }
  TADOCommand* Command() const { return command_; }
  void SetCommand(TADOCommand* command) { command_ = command; }
  const std::string& TableName() const { return tableName_; }
  void SetTableName(std::string tableName) { tableName_ = std::move(tableName); }
  const std::vector<std::string>& KeyFields() const { return keyFields_; }
  void SetKeyFields(std::vector<std::string> keyFields) { keyFields_ = std::move(keyFields); }

  Variant GetRecords(std::int32_t count, std::int32_t& recsOut, std::int32_t options,
                     const std::string& commandText, Variant& params, Variant& ownerData) override;
  Variant ApplyUpdates(const Variant& delta, std::int32_t maxErrors, std::int32_t& errorCount,
                       Variant& ownerData) override;
  Variant GetParams(Variant& ownerData) override;
  Variant RowRequest(const Variant& row, std::int32_t requestType, Variant& ownerData) override;
  void Execute(const std::string& commandText, Variant& params, Variant& ownerData) override;

 private:
  [[noreturn]] void Refuse(const std::string& why) const;
  TADOQuery& Query() const;
  TADOConnection& Connection() const;
  TParameters& StatementParameters() const;
  void RefuseCommandText(const std::string& commandText) const;
  void SetParams(const Variant& params) const;
  // The position of each key field among `fields`.
  std::vector<std::size_t> KeyPositions(const std::vector<TPacketField>& fields) const;
  void ApplyRow(const TDelta& delta, std::size_t index, const std::vector<std::size_t>& keys) const;

  TADOQuery* dataSet_ = nullptr;
  TADOCommand* command_ = nullptr;
  std::string tableName_;
  std::vector<std::string> keyFields_;
};

}  // namespace qar
