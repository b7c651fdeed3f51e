#include "data/odbc_session.h"

#include <cstring>
#include <deque>
#include <optional>
#include <utility>

#include "data/data_error.h"
#include "data/statement_cache.h"
#include "platform/datetime.h"
#include "platform/file_identity.h"
#include "platform/odbc_headers.h"
#include "platform/text.h"

namespace qar {

namespace {

// One ODBC handle, freed by its destructor.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  Handle(Handle&& other) noexcept : type_(other.type_), handle_(other.handle_) { other.handle_ = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset();
      type_ = other.type_;
      handle_ = other.handle_;
      other.handle_ = SQL_NULL_HANDLE;
    }
    return *this;
  }
  ~Handle() { Reset(); }
  SQLHANDLE Get() const { return handle_; }
  SQLSMALLINT Type() const { return type_; }

 private:
  void Reset() {
    if (handle_ != SQL_NULL_HANDLE) {
      if (type_ == SQL_HANDLE_DBC) SQLDisconnect(handle_);
      SQLFreeHandle(type_, handle_);
      handle_ = SQL_NULL_HANDLE;
    }
  }
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

std::u16string Wide(const std::string& ansi) { return platform::AnsiToUtf16(ansi); }
SQLWCHAR* W(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }
std::string Ansi(const SQLWCHAR* text, std::size_t length) {
  return platform::Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The first diagnostic record of a handle as an error.
EDataError Diagnostic(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  SQLWCHAR state[6] = {};
  SQLINTEGER native = 0;
  SQLWCHAR message[2048] = {};
  SQLSMALLINT length = 0;
  if (handle != SQL_NULL_HANDLE &&
      Ok(SQLGetDiagRecW(type, handle, 1, state, &native, message,
                        static_cast<SQLSMALLINT>(sizeof message / sizeof message[0]), &length))) {
    std::size_t size = static_cast<std::size_t>(length);
    if (size >= sizeof message / sizeof message[0]) size = sizeof message / sizeof message[0] - 1;
    return EDataError(StripOdbcPrefixes(Ansi(message, size)), Ansi(state, 5), native);
  }
  return EDataError(std::string("ODBC call failed: ") + what);
}

// An optional feature the driver lacks, or an attribute it does not know.
bool NotSupported(const EDataError& error) {
  return error.SqlState() == "HYC00" || error.SqlState() == "HY092" || error.SqlState() == "HY024";
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  throw Diagnostic(type, handle, what);
}

void Check(SQLRETURN rc, const Handle& handle, const char* what) {
  if (!Ok(rc)) Fail(handle.Type(), handle.Get(), what);
}

bool IsIntegerType(SQLSMALLINT type) {
  return type == SQL_INTEGER || type == SQL_SMALLINT || type == SQL_TINYINT || type == SQL_BIGINT ||
         type == SQL_BIT;
}
bool IsFloatType(SQLSMALLINT type) { return type == SQL_REAL || type == SQL_FLOAT || type == SQL_DOUBLE; }
bool IsDateType(SQLSMALLINT type) {
  return type == SQL_TYPE_TIMESTAMP || type == SQL_TYPE_DATE || type == SQL_TIMESTAMP || type == SQL_DATE;
}
// Sets a statement's SQL_ATTR_MAX_ROWS for one run (0 is "all" there, so a limit of 0
// asks for 1) and puts "all" back however the run ends.
class TMaxRows {
 public:
  TMaxRows(SQLHANDLE statement, std::optional<std::size_t> maxRows) : statement_(maxRows ? statement : nullptr) {
    if (statement_) Set(*maxRows == 0 ? 1 : *maxRows);
  }
  ~TMaxRows() {
    if (statement_) Set(0);
  }
  TMaxRows(const TMaxRows&) = delete;
  TMaxRows& operator=(const TMaxRows&) = delete;

 private:
  void Set(std::size_t rows) {
    SQLSetStmtAttr(statement_, SQL_ATTR_MAX_ROWS, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(rows)), 0);
  }
  SQLHANDLE statement_;
};

// The type a column declared `type` (with `digits` of scale) reads as, as Column reads it.
TFieldType FieldTypeOf(SQLSMALLINT type, SQLSMALLINT digits) {
  if (type == SQL_DECIMAL || type == SQL_NUMERIC) return digits == 0 ? ftLargeint : ftFloat;
  if (type == SQL_BIGINT) return ftLargeint;
  if (IsIntegerType(type)) return ftInteger;
  if (IsFloatType(type)) return ftFloat;
  if (IsDateType(type)) return ftDateTime;
  return ftString;
}
bool IsBinaryType(SQLSMALLINT type) {
  return type == SQL_BINARY || type == SQL_VARBINARY || type == SQL_LONGVARBINARY;
}

SQL_TIMESTAMP_STRUCT ToTimestamp(platform::TDateTime value) {
  const platform::DateTimeParts d = platform::DecodeDateTime(value);
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(d.year);
  ts.month = static_cast<SQLUSMALLINT>(d.month);
  ts.day = static_cast<SQLUSMALLINT>(d.day);
  ts.hour = static_cast<SQLUSMALLINT>(d.hour);
  ts.minute = static_cast<SQLUSMALLINT>(d.minute);
  ts.second = static_cast<SQLUSMALLINT>(d.second);
  ts.fraction = static_cast<SQLUINTEGER>(d.millisecond) * 1000000u;
  return ts;
}

platform::TDateTime FromTimestamp(const SQL_TIMESTAMP_STRUCT& ts) {
  return platform::EncodeDateTime({ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                   static_cast<int>(ts.fraction / 1000000u)});
}

// A parameter's buffer, alive until the statement has run.
struct BoundParameter {
  SQLSMALLINT cType = SQL_C_WCHAR;
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN columnSize = 1;
  SQLSMALLINT digits = 0;
  std::int64_t integer = 0;
  double real = 0;
  SQL_TIMESTAMP_STRUCT timestamp{};
  std::u16string text;
  SQLLEN indicator = 0;
};

// Readies a statement for its next run however this one ends: no cursor left open,
// no parameter bound to a buffer that is gone.
class TRewind {
 public:
  explicit TRewind(SQLHANDLE statement) : statement_(statement) {}
  ~TRewind() {
    SQLFreeStmt(statement_, SQL_CLOSE);
    SQLFreeStmt(statement_, SQL_RESET_PARAMS);
  }
  TRewind(const TRewind&) = delete;
  TRewind& operator=(const TRewind&) = delete;

 private:
  SQLHANDLE statement_;
};

class TOdbcSession : public TDriverSession {
 public:
  explicit TOdbcSession(const std::string& connectionString) {
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
      throw EDataError("ODBC driver manager not available", "IM004");
    env_ = Handle(SQL_HANDLE_ENV, env);
    Check(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          env_, "SQLSetEnvAttr");
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), env_, "SQLAllocHandle");
    std::u16string text = Wide(connectionString);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, W(text), SQL_NTS, out,
                                           static_cast<SQLSMALLINT>(sizeof out / sizeof out[0]),
                                           &outLength, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      // Not connected: freed without SQLDisconnect.
      EDataError error = Diagnostic(SQL_HANDLE_DBC, dbc, "SQLDriverConnectW");
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      throw error;
    }
    dbc_ = Handle(SQL_HANDLE_DBC, dbc);
    keepsPrepared_ = KeepsPreparedStatements();
    sqlite_ = platform::SameTextAscii(DbmsName(), "SQLite");
    if (keepsPrepared_ && sqlite_) {
      schemaProbe_ = PrepareStatement("PRAGMA schema_version");
      schemaVersion_ = SchemaVersion();
    }
    if (sqlite_) RememberDatabaseFile();
  }

  std::string DbmsName() override {
    if (dbmsName_.empty()) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT length = 0;
      Check(SQLGetInfoW(dbc_.Get(), SQL_DBMS_NAME, name, sizeof name, &length), dbc_, "SQLGetInfoW");
      dbmsName_ = Ansi(name, static_cast<std::size_t>(length) / sizeof(SQLWCHAR));
    }
    return dbmsName_;
  }

  TDriverResult Execute(const std::string& statement, std::vector<TDriverParameter>& parameters,
                        std::optional<std::size_t> maxRows) override {
    return Run(statement, parameters, maxRows);
  }

  TDriverResult ExecuteProcedure(const std::string& name,
                                 std::vector<TDriverParameter>& parameters) override {
    std::string call = "{";
    std::size_t first = 0;
    if (!parameters.empty() && parameters[0].direction == pdReturnValue) {
      call += "? = ";
      first = 1;
    }
    call += "call " + name;
    if (parameters.size() > first) {
      call += "(";
      for (std::size_t i = first; i < parameters.size(); ++i) call += i > first ? ",?" : "?";
      call += ")";
    }
    call += "}";
    return Run(call, parameters);
  }

  // SQLite's transaction is begun by a statement of its own that takes the write lock
  // at once: with autocommit off the SQLite driver begins a deferred transaction, and
  // one that reads (the schema look before every statement does) and then writes
  // fails at its first write, without waiting, whenever another session wrote in
  // between. The driver keeps autocommit on meanwhile and leaves SQLite's transaction
  // alone. (Outside a transaction the driver itself runs a statement that found the
  // database locked again, until its Timeout has passed.) Other servers begin theirs
  // by turning autocommit off.
  void BeginTransaction() override {
    if (sqlite_) {
      sqliteTransaction_ = true;  // also when the statement fails: the pool then ends whatever it left
      RunOwn(begin_, "BEGIN IMMEDIATE");
      return;
    }
    manualCommit_ = true;  // also when the call fails: the pool then ends whatever it left
    Check(SQLSetConnectAttrW(dbc_.Get(), SQL_ATTR_AUTOCOMMIT,
                             reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_AUTOCOMMIT_OFF)), 0),
          dbc_, "SQLSetConnectAttrW");
  }
  void Commit() override { sqliteTransaction_ ? EndSqlite(commit_, "COMMIT") : End(SQL_COMMIT); }
  void Rollback() override { sqliteTransaction_ ? EndSqlite(rollback_, "ROLLBACK") : End(SQL_ROLLBACK); }

  TStatementCacheStats StatementCache() const override { return {cache_.Size(), prepareCount_}; }

  // The driver manager's own pooling is not used: its SQLDisconnect frees every
  // prepared statement of the connection, which is what a kept session saves.
  bool ResetForPool() noexcept override {
    try {
      if (!keepsPrepared_ || pragmaRun_) return false;  // nothing kept a new session lacks; or its own settings
      if (manualCommit_) End(SQL_ROLLBACK);
      if (sqlite_ && (begunByStatement_ || sqliteTransaction_)) SqliteRollback();
      // The file is looked at when the session is handed out again (Alive).
      return DriverReportsAlive() && (!sqlite_ || !mayHoldTemporary_ || !SqliteHasTemporaryObjects());
    } catch (...) {
      return false;
    }
  }

  bool Alive() noexcept override {
    try {
      fileJustChecked_ = false;
      if (!DriverReportsAlive()) return false;
      CheckSameFile();
      fileJustChecked_ = true;  // the first statement of the caller it goes to needs no look again
      return true;
    } catch (...) {
      return false;
    }
  }

 private:
  bool DriverReportsAlive() {
    SQLUINTEGER dead = SQL_CD_TRUE;
    if (Ok(SQLGetConnectAttrW(dbc_.Get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr))) return dead == SQL_CD_FALSE;
    // A driver without the attribute is judged by the other checks.
    return NotSupported(Diagnostic(SQL_HANDLE_DBC, dbc_.Get(), "SQLGetConnectAttrW"));
  }

  // A SQLite file removed or replaced under the session (where the system lets another
  // program do so while the driver holds it): the session would work on a file nobody
  // else sees. Once seen, every statement fails until a new connect.
  void CheckSameFile() {
    if (!databaseFile_ || std::exchange(fileJustChecked_, false)) return;
    if (platform::FileIdentity(databaseFile_->first) != databaseFile_->second)
      throw DatabaseFileReplaced(databaseFile_->first);
  }

  void RememberDatabaseFile() {
    std::vector<TDriverParameter> none;
    const TDriverResult list = RunPrepared(PrepareStatement("PRAGMA database_list", false), none);
    for (const auto& row : list.rows) {
      if (row.size() < 3 || row[1].AsString() != "main" || row[2].AsString().empty()) continue;
      if (const auto identity = platform::FileIdentity(row[2].AsString()))
        databaseFile_ = std::pair(row[2].AsString(), *identity);
    }
  }

  // Only a text naming BEGIN or SAVEPOINT opens a transaction the driver does not
  // know of, and only one naming TEMP or ATTACH leaves something in the session: a
  // session that never prepared one needs no look when it goes back to the pool.
  void NoteSessionState(const std::string& text) {
    const std::string upper = platform::UpperCaseAscii(text);
    if (upper.find("BEGIN") != std::string::npos || upper.find("SAVEPOINT") != std::string::npos)
      begunByStatement_ = true;
    if (upper.find("TEMP") != std::string::npos || upper.find("ATTACH") != std::string::npos)
      mayHoldTemporary_ = true;
    if (upper.find("PRAGMA") != std::string::npos) pragmaRun_ = true;  // may change how the session locks
  }

  // Runs one of the session's own statements, kept in `kept` once prepared.
  void RunOwn(Handle& kept, const char* text) {
    if (!kept.Get()) kept = PrepareStatement(text, false);
    const TRewind rewind(kept.Get());
    const SQLRETURN rc = SQLExecute(kept.Get());
    if (!Ok(rc) && rc != SQL_NO_DATA) Fail(SQL_HANDLE_STMT, kept.Get(), "SQLExecute");
  }

  // Ends the transaction BeginTransaction began; one that failed to end stays open
  // for the caller's rollback (or the pool's).
  void EndSqlite(Handle& kept, const char* text) {
    RunOwn(kept, text);
    sqliteTransaction_ = false;
  }

  // A transaction begun by a statement (the caller's "BEGIN", or BeginTransaction's) is
  // SQLite's own: the driver's autocommit attribute does not show it.
  void SqliteRollback() {
    try {
      RunOwn(rollback_, "ROLLBACK");
    } catch (const EDataError& error) {
      if (std::string(error.what()).find("no transaction is active") == std::string::npos) throw;
    }
    sqliteTransaction_ = false;
  }

  // A temporary object or an attached database belongs to the caller that made it.
  bool SqliteHasTemporaryObjects() {
    if (!temporaryProbe_.Get())
      temporaryProbe_ = PrepareStatement("SELECT 1 FROM temp.sqlite_master UNION ALL SELECT 1 FROM pragma_database_list"
                                         " WHERE name NOT IN ('main', 'temp') LIMIT 1",
                                         false);
    std::vector<TDriverParameter> none;
    return !RunPrepared(temporaryProbe_, none).rows.empty();
  }

  // A driver that deletes prepared statements at a commit or rollback (SQL_CB_DELETE)
  // gets every statement prepared afresh.
  bool KeepsPreparedStatements() {
    for (const SQLUSMALLINT info : {SQL_CURSOR_COMMIT_BEHAVIOR, SQL_CURSOR_ROLLBACK_BEHAVIOR}) {
      SQLUSMALLINT behaviour = SQL_CB_DELETE;
      if (!Ok(SQLGetInfoW(dbc_.Get(), info, &behaviour, sizeof behaviour, nullptr)) ||
          behaviour == SQL_CB_DELETE)
        return false;
    }
    return true;
  }

  void End(SQLSMALLINT completion) {
    Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.Get(), completion), dbc_, "SQLEndTran");
    Check(SQLSetConnectAttrW(dbc_.Get(), SQL_ATTR_AUTOCOMMIT,
                             reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_AUTOCOMMIT_ON)), 0),
          dbc_, "SQLSetConnectAttrW");
    manualCommit_ = false;
  }

  static void Prepare(BoundParameter& bound, const TDriverParameter& parameter) {
    const Variant& value = parameter.value;
    const bool output = parameter.direction != pdInput && parameter.direction != pdUnknown;
    TVarType type = value.Type();
    if ((type == TVarType::Null || type == TVarType::Empty) || output) {
      // The declared type decides for nulls and for the buffer of an output.
      switch (parameter.dataType) {
        case ftSmallint: case ftInteger: case ftWord: case ftLargeint: case ftBoolean:
          type = TVarType::Integer; break;
        case ftFloat: case ftCurrency: type = TVarType::Double; break;
        case ftDate: case ftTime: case ftDateTime: type = TVarType::Date; break;
        default: if (output) type = TVarType::String; break;
      }
    }
    const bool isNull = value.IsNull() || value.IsEmpty();
    switch (type) {
      case TVarType::Boolean:
      case TVarType::Integer:
        bound.cType = SQL_C_SBIGINT;
        bound.sqlType = parameter.dataType == ftInteger || parameter.dataType == ftSmallint ? SQL_INTEGER : SQL_BIGINT;
        bound.columnSize = bound.sqlType == SQL_INTEGER ? 10 : 19;
        if (!isNull) bound.integer = value.Type() == TVarType::Boolean ? (value.AsBoolean() ? 1 : 0) : value.AsInt64();
        bound.indicator = sizeof bound.integer;
        break;
      case TVarType::Double:
        bound.cType = SQL_C_DOUBLE;
        bound.sqlType = SQL_DOUBLE;
        bound.columnSize = 15;
        if (!isNull) bound.real = value.AsDouble();
        bound.indicator = sizeof bound.real;
        break;
      case TVarType::Date:
        bound.cType = SQL_C_TYPE_TIMESTAMP;
        bound.sqlType = SQL_TYPE_TIMESTAMP;
        bound.columnSize = 23;
        bound.digits = 3;
        if (!isNull) bound.timestamp = ToTimestamp(value.AsDateTime());
        bound.indicator = sizeof bound.timestamp;
        break;
      case TVarType::Unknown:
        throw EDataError("Parameter " + parameter.name + " has a value of no database type", "07006");
      default: {
        bound.text = isNull ? std::u16string() : Wide(value.AsString());
        const std::size_t length = bound.text.size();
        const std::size_t capacity = output ? std::max<std::size_t>(length, std::max(parameter.size, 4000)) : length;
        bound.text.resize(capacity + 1, u'\0');
        bound.cType = SQL_C_WCHAR;
        bound.sqlType = capacity > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        bound.columnSize = capacity == 0 ? 1 : capacity;
        bound.indicator = static_cast<SQLLEN>(length * sizeof(SQLWCHAR));
        break;
      }
    }
    if (isNull) bound.indicator = SQL_NULL_DATA;
  }

  TDriverResult Run(const std::string& text, std::vector<TDriverParameter>& parameters,
                    std::optional<std::size_t> maxRows = std::nullopt) {
    // Where the system refuses it, the look at hand-out (Alive) is enough.
    if (checkEachStatement_) CheckSameFile();
    if (!keepsPrepared_) return RunPrepared(PrepareStatement(text), parameters, maxRows);
    // The SQLite driver reads a kept statement's whole result when it runs it again,
    // whatever its row limit: a limited run there prepares a statement of its own.
    if (maxRows && schemaProbe_.Get()) {
      NoteSessionState(text);
      return RunPrepared(PrepareStatement(text), parameters, maxRows);
    }
    DropStaleStatements();
    Handle* kept = cache_.Find(text);
    if (kept == nullptr) {
      NoteSessionState(text);
      kept = &cache_.Insert(text, PrepareStatement(text));
    }
    try {
      return RunPrepared(*kept, parameters, maxRows);
    } catch (...) {
      cache_.Erase(text);  // prepared afresh next time
      throw;
    }
  }

  // The SQLite ODBC driver describes a statement's columns when it prepares it and
  // keeps that description, while SQLite itself prepares the statement again after a
  // schema change: a kept statement would read the new rows by the old columns. So
  // before a statement runs, a changed schema version drops every kept statement.
  void DropStaleStatements() {
    if (!schemaProbe_.Get()) return;
    const std::int64_t version = SchemaVersion();
    if (version != schemaVersion_) cache_.Clear();
    schemaVersion_ = version;
  }

  std::int64_t SchemaVersion() {
    const TRewind rewind(schemaProbe_.Get());
    std::int64_t version = 0;
    SQLLEN indicator = 0;
    Check(SQLExecute(schemaProbe_.Get()), schemaProbe_, "SQLExecute");
    Check(SQLFetch(schemaProbe_.Get()), schemaProbe_, "SQLFetch");
    Check(SQLGetData(schemaProbe_.Get(), 1, SQL_C_SBIGINT, &version, sizeof version, &indicator), schemaProbe_,
          "SQLGetData");
    return version;
  }

  // `counted`: one of the caller's statements (not the session's own probes).
  Handle PrepareStatement(const std::string& text, bool counted = true) {
    SQLHANDLE raw = SQL_NULL_HANDLE;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc_.Get(), &raw), dbc_, "SQLAllocHandle");
    Handle statement(SQL_HANDLE_STMT, raw);
    std::u16string wide = Wide(ServerText(text));
    Check(SQLPrepareW(raw, W(wide), SQL_NTS), statement, "SQLPrepareW");
    if (counted) ++prepareCount_;
    return statement;
  }

  TDriverResult RunPrepared(const Handle& statement, std::vector<TDriverParameter>& parameters,
                            std::optional<std::size_t> maxRows = std::nullopt) {
    SQLHANDLE raw = statement.Get();
    const TRewind rewind(raw);
    std::deque<BoundParameter> bound(parameters.size());  // stable addresses
    for (std::size_t i = 0; i < parameters.size(); ++i) {
      BoundParameter& b = bound[i];
      Prepare(b, parameters[i]);
      SQLSMALLINT ioType = SQL_PARAM_INPUT;
      switch (parameters[i].direction) {
        case pdOutput: case pdReturnValue: ioType = SQL_PARAM_OUTPUT; break;
        case pdInputOutput: ioType = SQL_PARAM_INPUT_OUTPUT; break;
        default: break;
      }
      SQLPOINTER buffer = nullptr;
      SQLLEN bufferLength = 0;
      switch (b.cType) {
        case SQL_C_SBIGINT: buffer = &b.integer; bufferLength = sizeof b.integer; break;
        case SQL_C_DOUBLE: buffer = &b.real; bufferLength = sizeof b.real; break;
        case SQL_C_TYPE_TIMESTAMP: buffer = &b.timestamp; bufferLength = sizeof b.timestamp; break;
        default:
          buffer = b.text.data();
          bufferLength = static_cast<SQLLEN>(b.text.size() * sizeof(SQLWCHAR));
          break;
      }
      Check(SQLBindParameter(raw, static_cast<SQLUSMALLINT>(i + 1), ioType, b.cType, b.sqlType,
                             b.columnSize, b.digits, buffer, bufferLength, &b.indicator),
            statement, "SQLBindParameter");
    }

    // A driver that reads ahead (the SQLite one reads the whole result as it executes)
    // is told the limit too; the fetch loop holds to it either way, so a driver that
    // does not take the attribute loses nothing. A kept statement runs unlimited next.
    const TMaxRows limited(raw, maxRows);
    TDriverResult result;
    const SQLRETURN rc = SQLExecute(raw);
    if (rc != SQL_NO_DATA) Check(rc, statement, "SQLExecute");

    // The first result set with columns is the statement's rows.
    for (;;) {
      SQLSMALLINT columns = 0;
      Check(SQLNumResultCols(raw, &columns), statement, "SQLNumResultCols");
      if (columns > 0) {
        Fetch(statement, columns, maxRows.value_or(SIZE_MAX), result);
        break;
      }
      SQLLEN count = -1;
      if (Ok(SQLRowCount(raw, &count)) && count >= 0) result.rowsAffected = count;
      const SQLRETURN more = SQLMoreResults(raw);
      if (more == SQL_NO_DATA) break;
      Check(more, statement, "SQLMoreResults");
    }
    // Output values arrive once the results are done with; closing the cursor also
    // discards the rows a limit left unread.
    SQLFreeStmt(raw, SQL_CLOSE);

    for (std::size_t i = 0; i < parameters.size(); ++i) {
      if (parameters[i].direction == pdInput || parameters[i].direction == pdUnknown) continue;
      const BoundParameter& b = bound[i];
      if (b.indicator == SQL_NULL_DATA) {
        parameters[i].value = Variant::Null();
        continue;
      }
      switch (b.cType) {
        case SQL_C_SBIGINT: parameters[i].value = Variant(b.integer); break;
        case SQL_C_DOUBLE: parameters[i].value = Variant(b.real); break;
        case SQL_C_TYPE_TIMESTAMP: parameters[i].value = Variant::FromDate(FromTimestamp(b.timestamp)); break;
        default: {
          std::size_t length = static_cast<std::size_t>(b.indicator) / sizeof(SQLWCHAR);
          if (length >= b.text.size()) length = b.text.size() - 1;
          parameters[i].value = Variant(Ansi(reinterpret_cast<const SQLWCHAR*>(b.text.data()), length));
        }
      }
    }
    return result;
  }

  // Reads the columns and at most `limit` rows.
  void Fetch(const Handle& statement, SQLSMALLINT columns, std::size_t limit, TDriverResult& result) {
    std::vector<SQLSMALLINT> types(static_cast<std::size_t>(columns));
    std::vector<SQLSMALLINT> scales(static_cast<std::size_t>(columns));
    auto described = std::make_shared<TResultColumns>();
    for (SQLSMALLINT i = 1; i <= columns; ++i) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      Check(SQLDescribeColW(statement.Get(), static_cast<SQLUSMALLINT>(i), name,
                            static_cast<SQLSMALLINT>(sizeof name / sizeof name[0]), &nameLength,
                            &type, &size, &digits, &nullable),
            statement, "SQLDescribeColW");
      std::size_t length = static_cast<std::size_t>(nameLength);
      if (length >= sizeof name / sizeof name[0]) length = sizeof name / sizeof name[0] - 1;
      described->names.push_back(Ansi(name, length));
      described->types.push_back(FieldTypeOf(type, digits));
      types[static_cast<std::size_t>(i - 1)] = type;
      scales[static_cast<std::size_t>(i - 1)] = digits;
    }
    result.columns = std::move(described);
    while (result.rows.size() < limit) {
      const SQLRETURN rc = SQLFetch(statement.Get());
      if (rc == SQL_NO_DATA) break;
      Check(rc, statement, "SQLFetch");
      std::vector<Variant> row;
      for (SQLSMALLINT i = 1; i <= columns; ++i) {
        const std::size_t k = static_cast<std::size_t>(i - 1);
        SQLSMALLINT type = types[k];
        if ((type == SQL_DECIMAL || type == SQL_NUMERIC)) type = scales[k] == 0 ? SQL_BIGINT : SQL_DOUBLE;
        row.push_back(Column(statement, static_cast<SQLUSMALLINT>(i), type));
      }
      result.rows.push_back(std::move(row));
    }
  }

  static Variant Column(const Handle& statement, SQLUSMALLINT column, SQLSMALLINT type) {
    SQLLEN indicator = 0;
    if (IsIntegerType(type)) {
      std::int64_t value = 0;
      Check(SQLGetData(statement.Get(), column, SQL_C_SBIGINT, &value, sizeof value, &indicator), statement, "SQLGetData");
      return indicator == SQL_NULL_DATA ? Variant::Null() : Variant(value);
    }
    if (IsFloatType(type)) {
      double value = 0;
      Check(SQLGetData(statement.Get(), column, SQL_C_DOUBLE, &value, sizeof value, &indicator), statement, "SQLGetData");
      return indicator == SQL_NULL_DATA ? Variant::Null() : Variant(value);
    }
    if (IsDateType(type)) {
      SQL_TIMESTAMP_STRUCT value{};
      Check(SQLGetData(statement.Get(), column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator), statement, "SQLGetData");
      return indicator == SQL_NULL_DATA ? Variant::Null() : Variant::FromDate(FromTimestamp(value));
    }
    const bool binary = IsBinaryType(type);
    std::string bytes;
    std::u16string wide;
    for (;;) {
      char buffer[4096];
      const SQLRETURN rc = SQLGetData(statement.Get(), column, binary ? SQL_C_BINARY : SQL_C_WCHAR,
                                      buffer, sizeof buffer, &indicator);
      if (rc == SQL_NO_DATA) break;
      Check(rc, statement, "SQLGetData");
      if (indicator == SQL_NULL_DATA) return Variant::Null();
      std::size_t got = sizeof buffer;
      if (indicator != SQL_NO_TOTAL && static_cast<std::size_t>(indicator) < sizeof buffer)
        got = static_cast<std::size_t>(indicator);
      if (!binary) {
        if (got == sizeof buffer) got -= sizeof(SQLWCHAR);  // the terminator of a full buffer
        got -= got % sizeof(SQLWCHAR);
        const std::size_t start = wide.size();
        wide.resize(start + got / sizeof(SQLWCHAR));
        std::memcpy(wide.data() + start, buffer, got);
      } else {
        bytes.append(buffer, got);
      }
      if (rc == SQL_SUCCESS) break;
    }
    return binary ? Variant(std::move(bytes)) : Variant(platform::Utf16ToAnsi(wide));
  }

  Handle env_;
  Handle dbc_;
  std::string dbmsName_;
  bool keepsPrepared_ = false;
  // Destroyed before the connection: the statements go first.
  TStatementCache<Handle> cache_;
  std::uint64_t prepareCount_ = 0;
  // SQLite only: the schema look, the temporary objects' look, and the transaction's statements.
  Handle schemaProbe_;
  Handle temporaryProbe_;
  Handle begin_;
  Handle commit_;
  Handle rollback_;
  bool manualCommit_ = false;       // BeginTransaction turned autocommit off, and no End turned it on
  bool sqliteTransaction_ = false;  // BeginTransaction began SQLite's transaction, and nothing ended it
  bool pragmaRun_ = false;          // a PRAGMA was prepared
  bool begunByStatement_ = false;   // a text that may begin a transaction was prepared
  bool mayHoldTemporary_ = false;   // a text that may make a temporary object or attach was prepared
  std::int64_t schemaVersion_ = 0;
  bool sqlite_ = false;
  std::optional<std::pair<std::string, platform::TFileIdentity>> databaseFile_;  // SQLite only
  bool fileJustChecked_ = false;  // Alive looked, and no statement ran since
  const bool checkEachStatement_ = platform::OpenFilesCanBeReplaced();
};

}  // namespace

std::string StripOdbcPrefixes(const std::string& message) {
  std::size_t p = 0;
  while (p < message.size() && message[p] == '[') {
    const std::size_t close = message.find(']', p);
    if (close == std::string::npos) break;
    p = close + 1;
  }
  return message.substr(p);
}

std::unique_ptr<TDriverSession> OpenOdbcSession(const std::string& odbcConnectionString) {
  return std::make_unique<TOdbcSession>(odbcConnectionString);
}

}  // namespace qar
