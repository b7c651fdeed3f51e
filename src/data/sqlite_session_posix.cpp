#include "data/sqlite_session.h"

#include <grp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <utility>

#include "data/data_error.h"
#include "data/statement_cache.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace qar {

namespace {

// The pauses between looks at a lock another session holds, as SQLite's own busy
// timeout makes them: short at first, then a tenth of a second.
constexpr int kBusyPausesMs[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string UserName(uid_t uid) {
  const struct passwd* entry = ::getpwuid(uid);
  return entry ? entry->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const struct group* entry = ::getgrgid(gid);
  return entry ? entry->gr_name : std::to_string(gid);
}

// "owner root, group qarsnc, mode 0644" of a file or directory (UTF-8 path).
std::string Ownership(const std::string& path, struct stat& st) {
  if (::stat(path.c_str(), &st) != 0) return "cannot be examined: " + std::string(std::strerror(errno));
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return "owner " + UserName(st.st_uid) + ", group " + GroupName(st.st_gid) + ", mode " + mode;
}

// For a database this process may not write or open: who owns the file and its
// directory, who this process is, and the command that lets the directory's group
// (the installation's, for a database kept where the package puts it) write both.
std::string AccessHint(sqlite3* db) {
  const char* name = sqlite3_db_filename(db, "main");
  if (name == nullptr || *name == '\0') return {};
  const std::string file = name;
  const std::string dir = std::filesystem::path(file).parent_path().string();
  struct stat fileStat {}, dirStat {};
  std::string hint = " (database file " + file + ": " + Ownership(file, fileStat) + "; its directory " +
                     Ownership(dir, dirStat) + "; this process runs as " + UserName(::geteuid()) + ", group " +
                     GroupName(::getegid());
  const std::string group = GroupName(dirStat.st_gid);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    hint += "; to let the group " + group + " write there: sudo chmod g+rwx '" + dir + "'";
  }
  if (::access(file.c_str(), W_OK) != 0) {
    hint += "; to let the group " + group + " write the file: sudo chgrp " + group + " '" + file +
            "' && sudo chmod 0660 '" + file + "'";
  }
  return platform::Utf8ToAnsi(hint + ")");
}

[[noreturn]] void Fail(sqlite3* db) {
  const int code = sqlite3_extended_errcode(db);
  std::string message = platform::Utf8ToAnsi(sqlite3_errmsg(db));
  const int primary = code & 0xFF;
  if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM) message += AccessHint(db);
  throw EDataError(message, "HY000", code);
}

// Dates are stored as SQL Server prints them, which SQLite's date functions read.
std::string DateText(platform::TDateTime value) {
  const platform::DateTimeParts d = platform::DecodeDateTime(value);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                d.hour, d.minute, d.second, d.millisecond);
  return buffer;
}

// A column declared as a date or time holds SQL Server's text form; it reads as a
// date, as it does from any other server. Other texts stay texts.
bool ParseDateText(const char* text, platform::TDateTime& value) {
  platform::DateTimeParts parts;
  char fraction[8] = {};
  int consumed = 0;
  const int fields = std::sscanf(text, "%4d-%2d-%2d%n", &parts.year, &parts.month, &parts.day, &consumed);
  if (fields != 3 || consumed != 10) return false;
  const char* rest = text + consumed;
  if (*rest == ' ' || *rest == 'T') {
    int more = 0;
    if (std::sscanf(rest + 1, "%2d:%2d%n", &parts.hour, &parts.minute, &more) != 2) return false;
    rest += 1 + more;
    if (*rest == ':') {
      if (std::sscanf(rest + 1, "%2d%n", &parts.second, &more) != 1) return false;
      rest += 1 + more;
      if (*rest == '.') {
        if (std::sscanf(rest + 1, "%7[0-9]%n", fraction, &more) != 1) return false;
        rest += 1 + more;
        const std::string digits = (std::string(fraction) + "00").substr(0, 3);
        parts.millisecond = std::atoi(digits.c_str());
      }
    }
  }
  if (*rest != '\0' || parts.month < 1 || parts.month > 12 || parts.day < 1 || parts.day > 31 ||
      parts.hour > 23 || parts.minute > 59 || parts.second > 59)
    return false;
  value = platform::EncodeDateTime(parts);
  return true;
}

// A column's declared type by SQLite's rules of affinity (INT before the rest); a
// date or time column reads as dates. ftUnknown for an expression or another name.
TFieldType DeclaredType(sqlite3_stmt* statement, int i) {
  const char* declared = sqlite3_column_decltype(statement, i);
  if (declared == nullptr) return ftUnknown;
  const std::string upper = platform::UpperCaseAscii(declared);
  const auto has = [&upper](const char* part) { return upper.find(part) != std::string::npos; };
  if (has("DATE") || has("TIME")) return ftDateTime;
  if (has("INT")) return ftInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return ftString;
  if (has("REAL") || has("FLOA") || has("DOUB")) return ftFloat;
  return ftUnknown;
}

// A statement's columns as its results report them. Read once for each preparation
// of the statement: SQLite prepares a kept statement again after a schema change (its
// count of preparations grows), and its columns may change with it.
struct TColumns {
  int preparation = -1;  // the statement's count of preparations when they were read
  std::shared_ptr<const TResultColumns> described;

  const std::shared_ptr<const TResultColumns>& Describe(sqlite3_stmt* statement, int count) {
    const int now = sqlite3_stmt_status(statement, SQLITE_STMTSTATUS_REPREPARE, 0);
    if (described && now == preparation && described->names.size() == static_cast<std::size_t>(count))
      return described;
    auto columns = std::make_shared<TResultColumns>();
    for (int i = 0; i < count; ++i) {
      columns->names.push_back(platform::Utf8ToAnsi(sqlite3_column_name(statement, i)));
      columns->types.push_back(DeclaredType(statement, i));
    }
    preparation = now;
    described = std::move(columns);
    return described;
  }
};

// A statement kept prepared, with its columns.
struct TKept {
  Statement statement;
  TColumns columns;
};

bool IsBlank(const char* p, const char* end) {
  for (; p < end; ++p)
    if (!std::isspace(static_cast<unsigned char>(*p))) return false;
  return true;
}

// Readies a statement for its next run however this one ends: a statement left
// mid-way would keep its read lock (blocking writers and COMMIT) and its bound texts.
class TRewind {
 public:
  explicit TRewind(sqlite3_stmt* statement) : statement_(statement) {}
  ~TRewind() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
  TRewind(const TRewind&) = delete;
  TRewind& operator=(const TRewind&) = delete;

 private:
  sqlite3_stmt* statement_;
};

class TSqliteSession : public TDriverSession {
 public:
  // `journal` is set on a session that may write; a read-only one keeps the file's mode.
  TSqliteSession(const std::string& fileName, int flags, std::optional<TJournalMode> journal, int busyTimeoutMs)
      : fileName_(fileName), path_(platform::AnsiToUtf8(fileName)), busyTimeout_(busyTimeoutMs),
        readOnly_((flags & SQLITE_OPEN_READONLY) != 0) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path_.c_str(), &db, flags, nullptr);
    db_.reset(db);
    if (rc != SQLITE_OK) {
      const std::string reason = db_ ? platform::Utf8ToAnsi(sqlite3_errmsg(db_.get())) : "out of memory";
      throw EDataError(reason + ": " + fileName, "08001", rc);
    }
    sqlite3_busy_handler(db_.get(), &TSqliteSession::WaitWhileBusy, this);
    sqlite3_extended_result_codes(db_.get(), 1);
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) opened_ = {info.st_dev, info.st_ino};
    if (journal) SetJournal(*journal);
  }

  std::string DbmsName() override { return "SQLite"; }

  // A text holding one statement is kept prepared. A text of several statements is
  // prepared statement by statement as it runs, since one may create what the next
  // uses, and is not kept.
  TDriverResult Execute(const std::string& statement, std::vector<TDriverParameter>& parameters,
                        std::optional<std::size_t> maxRows) override {
    CheckSameFile();
    TDriverResult result;
    std::size_t nextParameter = 0;
    if (TKept* kept = cache_.Find(statement)) {
      RunKept(statement, *kept, parameters, maxRows, result);
      return result;
    }
    const std::string utf8 = platform::AnsiToUtf8(ServerText(statement));
    NoteSessionState(utf8);
    const char* tail = utf8.c_str();
    // The text ends at its first NUL, as it does for an ODBC driver: SQLite stops
    // there too and would hand back the same position for ever.
    const char* const end = utf8.c_str() + std::strlen(utf8.c_str());
    bool first = true;
    while (tail < end) {
      sqlite3_stmt* raw = nullptr;
      if (sqlite3_prepare_v2(db_.get(), tail, static_cast<int>(end - tail), &raw, &tail) != SQLITE_OK)
        Fail(db_.get());
      Statement prepared(raw);
      if (!prepared) continue;  // only blanks or a comment were left
      ++prepareCount_;
      if (first && IsBlank(tail, end)) {
        RunKept(statement, cache_.Insert(statement, TKept{std::move(prepared), {}}), parameters, maxRows, result);
        return result;
      }
      first = false;
      TColumns columns;
      Run(raw, columns, parameters, nextParameter, maxRows, result);
    }
    return result;
  }

  TDriverResult ExecuteProcedure(const std::string& name, std::vector<TDriverParameter>&) override {
    throw EDataError("SQLite has no stored procedures (" + name + ")", "IM001");
  }

  // The write lock is taken at the start: a transaction that began without it and
  // read would fail at its first write, at once, whenever another session wrote in
  // between (its snapshot is then stale, and no wait mends that). A session that may
  // not write has no use for it.
  void BeginTransaction() override { Exec(readOnly_ ? "BEGIN" : "BEGIN IMMEDIATE"); }
  void Commit() override { Exec("COMMIT"); }
  void Rollback() override { Exec("ROLLBACK"); }

  TStatementCacheStats StatementCache() const override { return {cache_.Size(), prepareCount_}; }

  bool ResetForPool() noexcept override {
    try {
      // An idle session holds no transaction: one still open is either begun (and
      // rolled back here) or a result nobody finished reading, which keeps a read open.
      if (sqlite3_txn_state(db_.get(), nullptr) != SQLITE_TXN_NONE) {
        if (!sqlite3_get_autocommit(db_.get())) Exec("ROLLBACK");
        if (sqlite3_txn_state(db_.get(), nullptr) != SQLITE_TXN_NONE) return false;
      }
      // The file is not looked at here: Alive does so before the session is handed out,
      // and closing a session of a removed file later is harmless, since SQLite leaves
      // the write-ahead log beside the name alone when its own file has moved.
      return !attached_ && !HasTemporaryObjects();
    } catch (...) {
      return false;
    }
  }

  bool Alive() noexcept override {
    try {
      fileJustChecked_ = false;
      CheckSameFile();
      fileJustChecked_ = true;  // the first statement of the caller it goes to needs no look again
      return true;
    } catch (...) {
      return false;
    }
  }

 private:
  // The journal mode is the file's (every session of it sees the last one set);
  // synchronous is this session's. Failing to set either fails the connect.
  void SetJournal(TJournalMode journal) {
    const char* const mode = journal == TJournalMode::kWal ? "wal" : "delete";
    const std::string pragma = std::string("PRAGMA journal_mode=") + mode;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), pragma.c_str(), -1, &raw, nullptr) != SQLITE_OK) FailOpen();
    const Statement statement(raw);
    if (sqlite3_step(raw) != SQLITE_ROW) FailOpen();
    const auto* set = reinterpret_cast<const char*>(sqlite3_column_text(raw, 0));
    // An in-memory database answers "memory" and stays so.
    if (set == nullptr || (std::strcmp(set, mode) != 0 && std::strcmp(set, "memory") != 0)) {
      // Most often the file may not be written by this process: say whose it is and how to mend it.
      const std::string hint =
          ::access(sqlite3_db_filename(db_.get(), "main"), W_OK) != 0 ? AccessHint(db_.get()) : std::string();
      throw EDataError("The database file " + fileName_ + " could not be put in journal mode " + mode +
                           " (it stays " + (set ? set : "unknown") + "): attempt to write a readonly database" +
                           hint,
                       "08001");
    }
    Exec(journal == TJournalMode::kWal ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL");
  }

  [[noreturn]] void FailOpen() {
    const int code = sqlite3_extended_errcode(db_.get());
    const int primary = code & 0xFF;
    std::string message = platform::Utf8ToAnsi(sqlite3_errmsg(db_.get())) + ": " + fileName_;
    if (primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM)
      message += AccessHint(db_.get());
    throw EDataError(message, "08001", code);
  }

  // A temporary table or view belongs to the caller that made it: the session is not
  // handed to another.
  // Only a text naming TEMP (CREATE TEMP ..., CREATE TEMPORARY ..., temp.x) makes a
  // temporary object; a session that never ran one needs no look when it goes back to
  // the pool. One that attached a database or ran a PRAGMA (which may change how the
  // session locks or syncs) is never handed to another caller.
  void NoteSessionState(const std::string& text) {
    const std::string upper = platform::UpperCaseAscii(text);
    if (upper.find("TEMP") != std::string::npos) mayHoldTemporary_ = true;
    if (upper.find("ATTACH") != std::string::npos || upper.find("PRAGMA") != std::string::npos) attached_ = true;
  }

  bool HasTemporaryObjects() {
    if (!mayHoldTemporary_) return false;
    if (!temporaryProbe_) {
      sqlite3_stmt* raw = nullptr;
      if (sqlite3_prepare_v2(db_.get(), "SELECT 1 FROM temp.sqlite_master LIMIT 1", -1, &raw, nullptr) != SQLITE_OK)
        return true;
      temporaryProbe_.reset(raw);
    }
    const TRewind rewind(temporaryProbe_.get());
    return sqlite3_step(temporaryProbe_.get()) != SQLITE_DONE;
  }

  // Another program may remove or replace the file: this session would then work on
  // a file nobody else sees. Once seen, every statement fails until a new connect.
  void CheckSameFile() {
    if (!opened_ || std::exchange(fileJustChecked_, false)) return;
    struct stat info {};
    if (::stat(path_.c_str(), &info) != 0 ||
        std::pair(info.st_dev, info.st_ino) != *opened_) {
      throw DatabaseFileReplaced(fileName_);
    }
  }

  void Exec(const char* sql) {
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(db_.get());
  }

  // SQLite's busy handler: true after a pause while the busy timeout lasts, counted
  // from its first call for this lock (`attempt` 0), or within Step from the
  // statement's first wait; then false, and the statement fails.
  static int WaitWhileBusy(void* self, int attempt) {
    auto& session = *static_cast<TSqliteSession*>(self);
    if (attempt == 0 && !session.stepping_) session.busySince_.reset();
    return session.Pause(attempt);
  }
  bool Pause(int attempt) {
    const auto now = std::chrono::steady_clock::now();
    if (!busySince_) busySince_ = now;
    const auto left = std::chrono::milliseconds(busyTimeout_) - (now - *busySince_);
    if (left <= std::chrono::milliseconds::zero()) return false;
    const int pause = kBusyPausesMs[std::min<std::size_t>(static_cast<std::size_t>(attempt), std::size(kBusyPausesMs) - 1)];
    sqlite3_sleep(static_cast<int>(std::min<std::int64_t>(
        pause, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
    return true;
  }

  // SQLite waits for a lock by itself (WaitWhileBusy), but a statement may still find
  // the database locked without waiting. Outside a transaction it changed nothing
  // then, and runs again while the busy timeout lasts; inside one the caller decides.
  int Step(sqlite3_stmt* statement) {
    busySince_.reset();
    stepping_ = true;
    int rc = sqlite3_step(statement);
    for (int attempt = 0; (rc & 0xFF) == SQLITE_BUSY && sqlite3_get_autocommit(db_.get()) && Pause(attempt);
         ++attempt) {
      sqlite3_reset(statement);
      rc = sqlite3_step(statement);
    }
    stepping_ = false;
    return rc;
  }

  // A kept statement that failed is dropped: the next run prepares the text afresh.
  void RunKept(const std::string& text, TKept& kept, std::vector<TDriverParameter>& parameters,
               std::optional<std::size_t> maxRows, TDriverResult& result) {
    std::size_t nextParameter = 0;
    try {
      Run(kept.statement.get(), kept.columns, parameters, nextParameter, maxRows, result);
    } catch (...) {
      cache_.Erase(text);
      throw;
    }
  }

  void Bind(sqlite3_stmt* statement, int index, const Variant& value) {
    int rc = SQLITE_OK;
    switch (value.Type()) {
      case TVarType::Empty:
      case TVarType::Null: rc = sqlite3_bind_null(statement, index); break;
      case TVarType::Boolean: rc = sqlite3_bind_int(statement, index, value.AsBoolean() ? 1 : 0); break;
      case TVarType::Integer: rc = sqlite3_bind_int64(statement, index, value.AsInt64()); break;
      case TVarType::Double: rc = sqlite3_bind_double(statement, index, value.AsDouble()); break;
      case TVarType::Date: {
        // A value that is no date has no text form: refused, never formatted.
        if (!platform::IsValidDateTime(value.AsDouble()))
          throw EDataError("Parameter " + std::to_string(index) + ": datetime field overflow", "22008");
        const std::string text = DateText(value.AsDouble());
        rc = sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
        break;
      }
      case TVarType::String: {
        const std::string text = platform::AnsiToUtf8(value.AsString());
        rc = sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
        break;
      }
      case TVarType::Unknown:
        throw EDataError("Parameter " + std::to_string(index) + " has a value of no database type",
                         "07006");
    }
    if (rc != SQLITE_OK) Fail(db_.get());
  }

  // Binds the statement's markers from parameters[nextParameter...] and runs it,
  // stepping through no more than `maxRows` rows.
  void Run(sqlite3_stmt* statement, TColumns& described, std::vector<TDriverParameter>& parameters,
           std::size_t& nextParameter, std::optional<std::size_t> maxRows, TDriverResult& result) {
    const TRewind rewind(statement);
    const int count = sqlite3_bind_parameter_count(statement);
    for (int i = 1; i <= count; ++i) {
      if (nextParameter >= parameters.size())
        throw EDataError("No value given for one or more required parameters.", "07002");
      Bind(statement, i, parameters[nextParameter++].value);
    }
    // sqlite3_changes keeps the count of the last INSERT, UPDATE or DELETE; a
    // statement that changed nothing (a CREATE, say) must not report it again.
    const int changesBefore = sqlite3_total_changes(db_.get());
    int rc = Step(statement);
    // Columns are read after the first step: a statement kept from before a schema
    // change is prepared again there and reports the new columns.
    const int columns = sqlite3_column_count(statement);
    if (columns > 0) {
      result.columns = described.Describe(statement, columns);
      result.rows.clear();
    }
    // At the limit the statement is rewound with the rest never stepped through (the
    // first step is needed for the columns, so a limit of 0 still makes one).
    const std::size_t limit = maxRows.value_or(SIZE_MAX);
    while (rc == SQLITE_ROW && result.rows.size() < limit) {
      std::vector<Variant> row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int i = 0; i < columns; ++i)
        row.push_back(Column(statement, i, result.columns->types[static_cast<std::size_t>(i)]));
      result.rows.push_back(std::move(row));
      if (result.rows.size() == limit) return;
      rc = sqlite3_step(statement);
    }
    if (rc == SQLITE_ROW) return;  // a limit of 0
    if (rc != SQLITE_DONE) Fail(db_.get());
    if (columns == 0)
      result.rowsAffected =
          sqlite3_total_changes(db_.get()) == changesBefore ? 0 : sqlite3_changes(db_.get());
  }

  // A text of a column declared as a date or time (ftDateTime) reads as a date.
  static Variant Column(sqlite3_stmt* statement, int i, TFieldType declared) {
    switch (sqlite3_column_type(statement, i)) {
      case SQLITE_INTEGER: return Variant(static_cast<std::int64_t>(sqlite3_column_int64(statement, i)));
      case SQLITE_FLOAT: return Variant(sqlite3_column_double(statement, i));
      case SQLITE_NULL: return Variant::Null();
      case SQLITE_BLOB: {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, i));
        return Variant(std::string(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, i))));
      }
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
        platform::TDateTime date = 0;
        if (text && declared == ftDateTime && ParseDateText(text, date)) return Variant::FromDate(date);
        return Variant(platform::Utf8ToAnsi(
            std::string_view(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(statement, i)))));
      }
    }
  }

  std::string fileName_;
  std::string path_;  // fileName_ in UTF-8, as the file system takes it
  int busyTimeout_;   // milliseconds
  bool readOnly_;
  std::optional<std::chrono::steady_clock::time_point> busySince_;  // the current wait for a lock began
  bool stepping_ = false;                                          // Step runs a statement
  std::optional<std::pair<dev_t, ino_t>> opened_;  // the file opened; none for a database without one
  bool fileJustChecked_ = false;                    // Alive looked, and no statement ran since
  Database db_;
  Statement temporaryProbe_;
  TStatementCache<TKept> cache_;  // destroyed first: its statements go before the database
  std::uint64_t prepareCount_ = 0;
  bool mayHoldTemporary_ = false;  // a statement that may have made a temporary object ran
  bool attached_ = false;          // a statement that may have attached a database or set a PRAGMA ran
};

}  // namespace

std::unique_ptr<TDriverSession> OpenSqliteSession(const std::string& fileName, TJournalMode journal,
                                                  int busyTimeoutMs) {
  return std::make_unique<TSqliteSession>(fileName, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, journal,
                                          busyTimeoutMs);
}

std::unique_ptr<TDriverSession> OpenSqliteSessionReadOnly(const std::string& fileName) {
  return std::make_unique<TSqliteSession>(fileName, SQLITE_OPEN_READONLY, std::nullopt, kDefaultBusyTimeoutMs);
}

}  // namespace qar
