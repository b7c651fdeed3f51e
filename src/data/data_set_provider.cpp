#include "data/data_set_provider.h"

#include <cstdint>

#include "data/data_error.h"
#include "platform/text.h"

namespace qar {

namespace {

// A statement with ":P0", ":P1", ... markers and their values, in order.
struct TStatement {
  std::string text;
  std::vector<Variant> values;

  std::string Marker(Variant value) {
    values.push_back(std::move(value));
    return ":P" + std::to_string(values.size() - 1);
  }
  // "K1 = :Pn AND K2 = :Pm" for the key fields of `row`.
  std::string KeyCondition(const std::vector<TPacketField>& fields, const std::vector<std::size_t>& keys,
                           const std::vector<Variant>& row) {
    std::string condition;
    for (std::size_t key : keys)
      condition += (condition.empty() ? "" : " AND ") + fields[key].Name + " = " + Marker(row[key]);
    return condition;
  }
  void Bind(TParameters& parameters) const {
    for (std::size_t i = 0; i < values.size(); ++i)
      parameters.ParamByName("P" + std::to_string(i)).SetValue(values[i]);
  }
};

// The columns, their declared types and the rows of an open data set.
void ReadRows(TCustomADODataSet& dataSet, std::vector<std::string>& columns, std::vector<TFieldType>& types,
              std::vector<std::vector<Variant>>& rows) {
  for (int i = 0; i < dataSet.FieldCount(); ++i) {
    columns.push_back(dataSet.Fields(i).FieldName());
    types.push_back(dataSet.Fields(i).DataType());
  }
  for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
    std::vector<Variant> row;
    for (int i = 0; i < dataSet.FieldCount(); ++i) row.push_back(dataSet.FieldValue(i));
    rows.push_back(std::move(row));
  }
}

// Closes a data set however the reading ends.
struct TClosing {
  TCustomADODataSet& dataSet;
  ~TClosing() { dataSet.Close(); }
};

// Puts back the parameter values a call found, however the call ends: no call sees
// the arguments of an earlier one.
class TParamsRestorer {
 public:
  explicit TParamsRestorer(TParameters& parameters) : parameters_(parameters) {
    for (int i = 0; i < parameters.Count(); ++i) values_.push_back(parameters[i].Value());
  }
  ~TParamsRestorer() {
    for (int i = 0; i < parameters_.Count() && static_cast<std::size_t>(i) < values_.size(); ++i)
      parameters_[i].SetValue(values_[static_cast<std::size_t>(i)]);
  }
  TParamsRestorer(const TParamsRestorer&) = delete;
  TParamsRestorer& operator=(const TParamsRestorer&) = delete;

 private:
  TParameters& parameters_;
  std::vector<Variant> values_;
};

bool HasValue(const Variant& value) { return !value.IsEmpty() && !value.IsNull(); }

}  // namespace

void TDataSetProvider::Refuse(const std::string& why) const {
  throw EProviderError("Provider " + Name() + ": " + why);
}

TADOQuery& TDataSetProvider::Query() const {
  if (dataSet_ == nullptr) Refuse("no data set, so no records");
  return *dataSet_;
}

TADOConnection& TDataSetProvider::Connection() const {
  TADOConnection* connection = dataSet_ != nullptr ? dataSet_->Connection()
                               : command_ != nullptr ? command_->Connection()
                                                     : nullptr;
  if (connection == nullptr) Refuse("no connection");
  return *connection;
}

TParameters& TDataSetProvider::StatementParameters() const {
  if (dataSet_ != nullptr) return dataSet_->Parameters();
  if (command_ != nullptr) return command_->Parameters();
  Refuse("no data set and no command");
}

void TDataSetProvider::RefuseCommandText(const std::string& commandText) const {
  if (!commandText.empty()) Refuse("a client's command text is not accepted");
}

void TDataSetProvider::SetParams(const Variant& params) const {
  const std::vector<std::pair<std::string, Variant>> given = ReadParams(params);
  TParameters& parameters = StatementParameters();
  for (const auto& [name, value] : given)
    if (parameters.FindParam(name) == nullptr) Refuse("parameter " + name + " not found");
  for (const auto& [name, value] : given) parameters.ParamByName(name).SetValue(value);
}

std::vector<std::size_t> TDataSetProvider::KeyPositions(const std::vector<TPacketField>& fields) const {
  if (tableName_.empty()) Refuse("no table to update or read rows from");
  if (keyFields_.empty()) Refuse("no key fields");
  std::vector<std::size_t> positions;
  for (const std::string& key : keyFields_) {
    std::size_t at = 0;
    while (at < fields.size() && !platform::SameTextAscii(fields[at].Name, key)) ++at;
    if (at == fields.size()) Refuse("key field " + key + " is missing");
    positions.push_back(at);
  }
  return positions;
}

Variant TDataSetProvider::GetRecords(std::int32_t count, std::int32_t& recsOut, std::int32_t,
                                     const std::string& commandText, Variant& params, Variant&) {
  TADOQuery& query = Query();
  RefuseCommandText(commandText);
  if (count < -1) Refuse("invalid record count " + std::to_string(count));
  const TParamsRestorer restorer(StatementParameters());
  SetParams(params);
  query.Close();
  // Only the rows asked for are fetched: a large result is never read whole for a few
  // rows. The types follow the rows sent, and the declared types where there are none.
  const std::optional<std::size_t> limit =
      count >= 0 ? std::optional<std::size_t>(static_cast<std::size_t>(count)) : std::nullopt;
  query.Open(limit);
  const TClosing closing{query};
  std::vector<std::string> columns;
  std::vector<TFieldType> types;
  std::vector<std::vector<Variant>> rows;
  ReadRows(query, columns, types, rows);
  TDataPacket packet = DataPacketOf(std::move(columns), std::move(rows), limit.value_or(SIZE_MAX), types);
  recsOut = static_cast<std::int32_t>(packet.Rows.size());
  return MakeDataPacket(packet);
}

Variant TDataSetProvider::GetParams(Variant&) { return MakeParams(StatementParameters()); }

void TDataSetProvider::Execute(const std::string& commandText, Variant& params, Variant&) {
  RefuseCommandText(commandText);
  const TParamsRestorer restorer(StatementParameters());
  SetParams(params);
  if (command_ != nullptr) command_->Execute();
  else Query().ExecSQL();
  params = MakeParams(StatementParameters(), true);
}

Variant TDataSetProvider::RowRequest(const Variant& row, std::int32_t, Variant&) {
  const TDataPacket packet = ReadDataPacket(row);
  const std::vector<std::size_t> keys = KeyPositions(packet.Fields);
  if (packet.Rows.size() != 1) Refuse("a row request holds one row, not " + std::to_string(packet.Rows.size()));
  std::string columns;
  for (const TPacketField& field : packet.Fields) {
    if (!IsPlainColumnName(field.Name)) Refuse("field " + field.Name + " is not a plain column name");
    columns += (columns.empty() ? "" : ", ") + field.Name;
  }
  for (std::size_t key : keys)
    if (!HasValue(packet.Rows[0][key])) Refuse("key field " + packet.Fields[key].Name + " has no value");

  TStatement statement;
  statement.text = "SELECT " + columns + " FROM " + tableName_ + " WHERE " +
                   statement.KeyCondition(packet.Fields, keys, packet.Rows[0]);
  TADOQuery query;
  query.SetConnection(&Connection());
  query.SQL().Add(statement.text);
  statement.Bind(query.Parameters());
  query.Open();
  std::vector<std::string> names;
  std::vector<TFieldType> types;
  std::vector<std::vector<Variant>> rows;
  ReadRows(query, names, types, rows);
  return MakeDataPacket(DataPacketOf(std::move(names), std::move(rows), SIZE_MAX, types));
}

Variant TDataSetProvider::ApplyUpdates(const Variant& deltaValue, std::int32_t maxErrors,
                                       std::int32_t& errorCount, Variant&) {
  const TDelta delta = ReadDelta(deltaValue);
  if (tableName_.empty()) Refuse("no table to update");
  std::vector<std::size_t> keys;
  for (std::size_t r = 0; r < delta.Rows.size(); ++r) {
    const TDeltaRow& row = delta.Rows[r];
    if (row.State == TDeltaState::Insert) continue;
    if (keys.empty()) keys = KeyPositions(delta.Fields);
    const std::vector<Variant>& keyRow = row.State == TDeltaState::Modify ? row.Original : row.Values;
    for (std::size_t key : keys)
      if (!HasValue(keyRow[key]))
        Refuse("delta row " + std::to_string(r) + ": key field " + delta.Fields[key].Name + " has no value");
  }
  if (delta.Rows.empty()) {
    errorCount = -1;
    return MakeUpdateErrors({});
  }

  TADOConnection& connection = Connection();
  connection.BeginTrans();
  std::vector<TUpdateError> errors;
  const auto tooMany = [&] { return static_cast<std::int64_t>(errors.size()) > maxErrors; };
  try {
    for (std::size_t r = 0; r < delta.Rows.size() && !tooMany(); ++r) {
      try {
        ApplyRow(delta, r, keys);
      } catch (const EDataError& error) {
        errors.push_back({static_cast<std::int32_t>(r), error.what()});
      }
    }
    if (tooMany()) connection.RollbackTrans();
    else connection.CommitTrans();
  } catch (...) {
    // The failure that ends the update is what the client hears about; a rollback
    // that fails as well has nothing to add.
    try {
      if (connection.InTransaction()) connection.RollbackTrans();
    } catch (const std::exception&) {
    }
    throw;
  }
  errorCount = static_cast<std::int32_t>(errors.size());
  return MakeUpdateErrors(errors);
}

void TDataSetProvider::ApplyRow(const TDelta& delta, std::size_t index,
                                const std::vector<std::size_t>& keys) const {
  const TDeltaRow& row = delta.Rows[index];
  TStatement statement;
  switch (row.State) {
    case TDeltaState::Insert: {
      std::string columns, markers;
      for (std::size_t i = 0; i < row.Values.size(); ++i) {
        if (row.Values[i].IsEmpty()) continue;
        columns += (columns.empty() ? "" : ", ") + delta.Fields[i].Name;
        markers += (markers.empty() ? "" : ", ") + statement.Marker(row.Values[i]);
      }
      statement.text = "INSERT INTO " + tableName_ + " (" + columns + ") VALUES (" + markers + ")";
      break;
    }
    case TDeltaState::Modify: {
      std::string assignments;
      for (std::size_t i = 0; i < row.Values.size(); ++i) {
        if (row.Values[i].IsEmpty()) continue;
        assignments += (assignments.empty() ? "" : ", ") + delta.Fields[i].Name + " = " + statement.Marker(row.Values[i]);
      }
      statement.text = "UPDATE " + tableName_ + " SET " + assignments + " WHERE " +
                       statement.KeyCondition(delta.Fields, keys, row.Original);
      break;
    }
    case TDeltaState::Delete:
      statement.text = "DELETE FROM " + tableName_ + " WHERE " + statement.KeyCondition(delta.Fields, keys, row.Values);
      break;
  }
  TADOCommand command;
  command.SetConnection(&Connection());
  command.SetCommandText(statement.text);
  statement.Bind(command.Parameters());
  const std::int64_t affected = command.Execute();
  if (row.State == TDeltaState::Insert || affected == 1) return;
  std::string key;
  const std::vector<Variant>& keyRow = row.State == TDeltaState::Modify ? row.Original : row.Values;
  for (std::size_t k : keys) key += (key.empty() ? "" : ", ") + delta.Fields[k].Name + " = " + keyRow[k].AsString();
  if (affected == 0) throw EDataError("The row of " + tableName_ + " with " + key + " was not found: another user changed or deleted it");
  Refuse("the key " + key + " finds " + std::to_string(affected) + " rows of " + tableName_);
}

}  // namespace qar
