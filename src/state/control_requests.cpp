#include "state/control_requests.h"

#include <algorithm>

#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "state/command_error.h"
#include "state/control_table.h"
#include "state/shown_text.h"

namespace qar::state {

namespace {

constexpr const char* kRequesterApp = "QarCfg";

void CheckOperationValue(const char* name, const std::string& value) {
  if (value.empty()) throw EUsageError(std::string(name) + " cannot be empty");
  if (value.size() > kMaxCodeLength) {
    throw EUsageError(std::string(name) + " takes at most " + std::to_string(kMaxCodeLength) +
                      " characters, not " + std::to_string(value.size()));
  }
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || byte < 32 || byte == 127) {
      throw EUsageError(std::string(name) +
                        " cannot hold double quotes, backslashes or control characters");
    }
    if (c == ' ' || c == '_') {
      throw EUsageError(std::string(name) +
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
    CreateControlTableIndexes(connection);
  } catch (const EDataError& error) {
    throw ECommandError("CTRLEXECREM cannot be read (" + probeError + ") nor created (" +
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
  if (id.IsNull()) throw ECommandError("the database did not report the new request's id");
  return id.AsInt64();
}

}  // namespace

std::string RequestRowColumns() {
  return std::string("IDCTRLEXECREM, IDSTCTRLEXECREM, DSOPERACAO, CONVERT(VARCHAR,DTINCLUSAO,120) AS DTINCLUSAO,"
                     " DSERRO, ") +
         kInsertedTodayColumn.data();
}

std::string RequestRowColumns(const std::string& insertedToday) {
  return "IDCTRLEXECREM, IDSTCTRLEXECREM, DSOPERACAO, CONVERT(VARCHAR,DTINCLUSAO,120) AS DTINCLUSAO, DSERRO,"
         " CASE WHEN " + insertedToday + " THEN 1 ELSE 0 END AS HOJE";
}

void CreateControlTableIndexes(TADOConnection& connection) {
  connection.Execute(kCreateStatusIndex);
  AddSqliteDayIndexes(connection);
}

void AddSqliteDayIndexes(TADOConnection& connection) {
  if (!connection.ConnectionObject()->SqliteDialect()) return;
  for (const char* statement : kCreateSqliteDayIndexes) connection.Execute(statement);
}

TInsertedToday InsertedToday(TADOConnection& connection) {
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT CONVERT(VARCHAR, GETDATE(), 112) AS HOJE");
  query.Open();
  const std::string day = query.FieldByName("HOJE").AsString();
  platform::TDateTime start = 0;
  if (day.size() == 8 && day.find_first_not_of("0123456789") == std::string::npos) {
    platform::DateTimeParts parts;
    parts.year = std::stoi(day.substr(0, 4));
    parts.month = std::stoi(day.substr(4, 2));
    parts.day = std::stoi(day.substr(6, 2));
    start = platform::EncodeDateTime(parts);
  }
  if (!platform::IsValidDateTime(start + 1) || platform::FormatDateTime("yyyymmdd", start) != day)
    throw EDataError("the database gave \"" + Quoted(day) + "\" as its date, not yyyymmdd");
  // SQL Server reads yyyymmdd as a date whatever its language; the SQLite dialect keeps
  // dates as "yyyy-mm-dd hh:mm:ss.mmm" texts, which compare as texts. There the column's
  // numeric affinity would have every comparison try both texts as numbers first; "+"
  // leaves the column's value as it is (and takes no index for it).
  const bool sqlite = connection.ConnectionObject()->SqliteDialect();
  const char* format = sqlite ? "yyyy-mm-dd" : "yyyymmdd";
  const std::string from = "'" + platform::FormatDateTime(format, start) + "'";
  const std::string till = "'" + platform::FormatDateTime(format, start + 1) + "'";
  const auto range = [&](const char* column) {
    return std::string("(") + column + " >= " + from + " AND " + column + " < " + till + ")";
  };
  return {range(sqlite ? "+DTINCLUSAO" : "DTINCLUSAO"), range("DTINCLUSAO")};
}

std::string InsertedTodayCondition(TADOConnection& connection) { return InsertedToday(connection).rows; }

TRequestRow ReadRequestRow(TADOQuery& query) {
  TRequestRow row{query.FieldByName("IDCTRLEXECREM").AsString(), query.FieldByName("IDSTCTRLEXECREM").AsString(),
                  query.FieldByName("DSOPERACAO").AsString(), query.FieldByName("DTINCLUSAO").AsString(),
                  query.FieldByName("DSERRO").AsString()};
  row.expired = row.status == kStatusPending && query.FieldByName("HOJE").AsString() != "1";
  return row;
}

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
    throw ECommandError(std::string("the request cannot be inserted: ") + error.what());
  }
}

void CancelRequest(TADOConnection& connection, std::int64_t id, bool evenExpired) {
  const std::string request = "request " + std::to_string(id);
  try {
    TADOQuery row;
    row.SetConnection(&connection);
    row.SQL().Add("SELECT " + RequestRowColumns());
    row.SQL().Add("  FROM CTRLEXECREM WHERE IDCTRLEXECREM = :IDCTRLEXECREM");
    row.Parameters().ParamByName(kIdParameter).SetDataType(ftInteger);
    row.Parameters().ParamByName(kIdParameter).SetValue(id);
    row.Open();
    if (row.IsEmpty()) throw ECommandError("there is no " + request);
    const TRequestRow found = ReadRequestRow(row);
    // Exactly "P", as the agent compares it, whatever the database's collation.
    if (found.status != kStatusPending) {
      throw ECommandError(request + " is not pending or running: its status is " +
                          (found.status.empty() ? std::string("empty") : "\"" + Quoted(found.status) + "\""));
    }
    if (found.expired && !evenExpired) {
      throw ECommandError(request + " expired: it is pending since " + Quoted(found.inserted) +
                          ", an earlier day, and the agent never starts it");
    }

    // Guarded, so that a worker that ends meanwhile keeps its final status.
    TADOCommand update;
    update.SetConnection(&connection);
    update.SetCommandText(
        "UPDATE CTRLEXECREM\r\n"
        "   SET IDSTCTRLEXECREM = '" + std::string(kStatusCancelRequested) + "',\r\n"
        "       DTULTATU = GETDATE()\r\n"
        " WHERE IDCTRLEXECREM = :IDCTRLEXECREM\r\n"
        "   AND IDSTCTRLEXECREM = '" + kStatusPending + "'");
    update.Parameters().ParamByName(kIdParameter).SetDataType(ftInteger);
    update.Parameters().ParamByName(kIdParameter).SetValue(id);
    if (update.Execute() != 1) throw ECommandError(request + " ended while it was being cancelled");
  } catch (const EDataError& error) {
    throw ECommandError(request + " cannot be cancelled: " + error.what());
  }
}

std::vector<TRequestRow> ListedRequests(TADOConnection& connection, std::optional<platform::TDateTime> since) {
  std::vector<TRequestRow> rows;
  try {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add("SELECT " + RequestRowColumns());
    query.SQL().Add("  FROM CTRLEXECREM");
    if (since) {
      query.SQL().Add(" WHERE DTINCLUSAO >= :DESDE");
    } else {
      query.SQL().Add(" WHERE " + InsertedTodayCondition(connection));
      query.SQL().Add(std::string("    OR IDSTCTRLEXECREM = '") + kStatusPending + "'");
    }
    query.SQL().Add(" ORDER BY IDCTRLEXECREM");
    if (since) {
      query.Parameters().ParamByName("DESDE").SetDataType(ftDateTime);
      query.Parameters().ParamByName("DESDE").SetValue(Variant::FromDate(*since));
    }
    query.Open();
    for (query.First(); !query.Eof(); query.Next()) rows.push_back(ReadRequestRow(query));
  } catch (const EDataError& error) {
    throw ECommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
  return rows;
}

}  // namespace qar::state
