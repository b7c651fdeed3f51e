#include "tools/ControlRequests.h"

#include <algorithm>
#include <array>

#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/control_table.h"
#include "data/data_error.h"
#include "tools/CommandError.h"

namespace qar::tools {

namespace {

constexpr const char* kRequesterApp = "QarCfg";

void CheckOperationValue(const char* name, const std::string& value) {
  if (value.empty()) throw TUsageError(std::string(name) + " cannot be empty");
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || byte < 32 || byte == 127) {
      throw TUsageError(std::string(name) +
                        " cannot hold double quotes, backslashes or control characters");
    }
    if (c == ' ' || c == '_') {
      throw TUsageError(std::string(name) +
                        " cannot hold blanks or underscores: they split the worker's parameters");
    }
  }
}

// The agent's own start-up probe: when its pending-rows query fails, the table is created.
void EnsureControlTable(TADOConnection& connection) {
  std::string probeError;
  try {
    TADOQuery probe;
    probe.SetConnection(&connection);
    for (const char* line : kPendingRowsQuery) probe.SQL().Add(line);
    probe.Open();
    return;
  } catch (const EDataError& error) {
    probeError = error.what();
  }
  try {
    TADOCommand create;
    create.SetConnection(&connection);
    create.SetCommandTimeout(0);
    create.SetCommandText(JoinStatementLines(kCreateTable));
    create.Execute();
    connection.Execute(kCreateStatusIndex);
  } catch (const EDataError& error) {
    throw TCommandError("CTRLEXECREM cannot be read (" + probeError + ") nor created (" +
                        error.what() + ")");
  }
}

// The id the session's last insert generated. Both functions are per session, so
// another program inserting at the same time does not disturb the answer.
std::int64_t LastInsertedId(TADOConnection& connection) {
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add(connection.ConnectionObject()->SqliteDialect()
                      ? "SELECT last_insert_rowid() AS IDCTRLEXECREM"
                      : "SELECT @@IDENTITY AS IDCTRLEXECREM");
  query.Open();
  const Variant id = query.FieldByName("IDCTRLEXECREM").Value();
  if (id.IsNull()) throw TCommandError("the database did not report the new request's id");
  return id.AsInt64();
}

std::string Printable(std::string text) {
  std::replace_if(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
  return text;
}

}  // namespace

std::string SyncOperationText(const std::string& filial, const std::string& caixa) {
  CheckOperationValue("CDFILIAL", filial);
  CheckOperationValue("CDCAIXA", caixa);
  return "{\"CDFILIAL\":\"" + filial + "\",\"CDCAIXA\":\"" + caixa + "\"}";
}

std::int64_t EnqueueSyncRequest(TADOConnection& connection, const std::string& filial,
                                const std::string& caixa) {
  const std::string operation = SyncOperationText(filial, caixa);
  EnsureControlTable(connection);
  try {
    TADOCommand insert;
    insert.SetConnection(&connection);
    insert.SetCommandText(
        "INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM)\r\n"
        "VALUES ('" + std::string(kRequesterApp) + "', 'SYNC', :DSOPERACAO, '" + kStatusPending + "')");
    insert.Parameters().ParamByName("DSOPERACAO").SetValue(operation);
    insert.Execute();
    return LastInsertedId(connection);
  } catch (const EDataError& error) {
    throw TCommandError(std::string("the request cannot be inserted: ") + error.what());
  }
}

std::string CancelRequest(TADOConnection& connection, std::int64_t id) {
  try {
    TADOQuery row;
    row.SetConnection(&connection);
    row.SQL().Add("SELECT IDCTRLEXECREM, IDSTCTRLEXECREM FROM CTRLEXECREM WHERE IDCTRLEXECREM = :IDCTRLEXECREM");
    row.Parameters().ParamByName(kIdParameter).SetDataType(ftInteger);
    row.Parameters().ParamByName(kIdParameter).SetValue(id);
    row.Open();
    if (row.IsEmpty()) throw TCommandError("there is no request " + std::to_string(id));
    const std::string previous = row.FieldByName("IDSTCTRLEXECREM").AsString();

    TADOCommand update;
    update.SetConnection(&connection);
    update.SetCommandText(
        "UPDATE CTRLEXECREM\r\n"
        "   SET IDSTCTRLEXECREM = '" + std::string(kStatusCancelRequested) + "',\r\n"
        "       DTULTATU = GETDATE()\r\n"
        " WHERE IDCTRLEXECREM = :IDCTRLEXECREM");
    update.Parameters().ParamByName(kIdParameter).SetDataType(ftInteger);
    update.Parameters().ParamByName(kIdParameter).SetValue(id);
    update.Execute();
    return previous;
  } catch (const EDataError& error) {
    throw TCommandError("request " + std::to_string(id) + " cannot be cancelled: " + error.what());
  }
}

std::vector<TRequestRow> TodaysRequests(TADOConnection& connection) {
  std::vector<TRequestRow> rows;
  try {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add("SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, DSOPERACAO,");
    query.SQL().Add("       CONVERT(VARCHAR,DTINCLUSAO,120) AS DTINCLUSAO, DSERRO");
    query.SQL().Add("  FROM CTRLEXECREM");
    // The agent's own day filter: the rows it can still start or cancel.
    query.SQL().Add(" WHERE CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)");
    query.SQL().Add(" ORDER BY IDCTRLEXECREM");
    query.Open();
    for (query.First(); !query.Eof(); query.Next()) {
      rows.push_back({query.FieldByName("IDCTRLEXECREM").AsString(),
                      query.FieldByName("IDSTCTRLEXECREM").AsString(),
                      query.FieldByName("DSOPERACAO").AsString(),
                      query.FieldByName("DTINCLUSAO").AsString(),
                      query.FieldByName("DSERRO").AsString()});
    }
  } catch (const EDataError& error) {
    throw TCommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
  return rows;
}

std::vector<std::string> FormatRequestRows(const std::vector<TRequestRow>& rows) {
  using Cells = std::array<std::string, 5>;
  std::vector<Cells> table{{"ID", "STATUS", "DSOPERACAO", "DTINCLUSAO", "DSERRO"}};
  for (const TRequestRow& row : rows) {
    table.push_back({Printable(row.id), Printable(row.status), Printable(row.operation),
                     Printable(row.inserted), Printable(row.error)});
  }
  std::array<std::size_t, 5> widths{};
  for (const Cells& cells : table)
    for (std::size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], cells[i].size());

  std::vector<std::string> lines;
  for (const Cells& cells : table) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      if (i + 1 < cells.size()) line += std::string(widths[i] - cells[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace qar::tools
