// TDriverSession: one open database session of a driver (embedded SQLite, ODBC, or a test double).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/connection_string.h"
#include "data/parameters.h"
#include "framework/variant.h"

namespace qar {

// One parameter as the driver binds it, positionally. Output values are written back
// into `value`.
struct TDriverParameter {
  std::string name;
  TFieldType dataType = ftUnknown;
  TParameterDirection direction = pdInput;
  int size = 0;
  Variant value;
};

// A result's columns: their names (ANSI) and declared types (ftUnknown when the server
// declares none, as for an expression), one each.
struct TResultColumns {
  std::vector<std::string> names;
  std::vector<TFieldType> types;
};

// What a statement returned: its columns (none for a statement without any; a kept
// statement hands out the same ones run after run), its rows (ANSI texts, numbers,
// dates or Null; every row, or as many as the limit allowed), and the rows affected
// (-1 when the statement reports none).
struct TDriverResult {
  std::shared_ptr<const TResultColumns> columns;
  std::vector<std::vector<Variant>> rows;
  std::int64_t rowsAffected = -1;
};

// What a session's statement cache holds and has done.
struct TStatementCacheStats {
  std::size_t cached = 0;      // prepared statements held now
  std::uint64_t prepared = 0;  // statements prepared since the session opened
};

// A driver's session. Texts are ANSI; each driver converts at its edge (UTF-8 for
// SQLite, UTF-16 for ODBC). Every failure is raised as EDataError carrying the
// server's message and codes. A session is used by one thread at a time.
//
// A session keeps the statements it has prepared (see TStatementCache) under the
// text it was given and runs that text again by rebinding the kept statement. Its
// statements are freed when it is destroyed.
class TDriverSession {
 public:
  using TDialect = std::function<std::string(const std::string& statement)>;

  virtual ~TDriverSession() = default;

  // The server's product name ("SQLite", "Microsoft SQL Server", ...): picks the dialect.
  virtual std::string DbmsName() = 0;

  // Rewrites every statement text before the server prepares it. It runs once per
  // text the session prepares: it must give the same result for the same text.
  void SetDialect(TDialect dialect) { dialect_ = std::move(dialect); }

  // Runs a statement whose parameter markers are "?", binding `parameters` in order.
  // With `maxRows`, no more rows than that are fetched from the server; the cursor is
  // closed with the rest unread.
  virtual TDriverResult Execute(const std::string& statement, std::vector<TDriverParameter>& parameters,
                                std::optional<std::size_t> maxRows) = 0;
  // Calls a stored procedure by name with its parameters in order.
  virtual TDriverResult ExecuteProcedure(const std::string& name,
                                         std::vector<TDriverParameter>& parameters) = 0;

  virtual void BeginTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  virtual TStatementCacheStats StatementCache() const { return {}; }

  // Readies the session for a pool after its connection closed: rolls back what is
  // still open and says whether it is clean (no transaction, no temporary table, no
  // statement with a pending result). False, also on any failure: it must be closed.
  // A driver that cannot tell is never pooled.
  virtual bool ResetForPool() noexcept { return false; }
  // Whether a pooled session still reaches its database: the same file, a live
  // connection. False: it must be closed.
  virtual bool Alive() noexcept { return false; }

 protected:
  // The text the server is given for `statement`.
  std::string ServerText(const std::string& statement) const {
    return dialect_ ? dialect_(statement) : statement;
  }

 private:
  TDialect dialect_;
};

// Opens the session a connection string selects (see ChooseDriver). The embedded
// SQLite driver exists only in the POSIX build; on Windows "Provider=SQLite" reaches
// the SQLite ODBC driver ("Driver=SQLite3;Database=<file>") instead.
std::unique_ptr<TDriverSession> OpenDriverSession(const std::string& connectionString);

// The ODBC driver used for a SQL Server provider without a Driver= keyword
// (Windows: "SQL Server"; elsewhere: "FreeTDS").
std::string DefaultSqlServerOdbcDriver();
std::string DefaultOracleOdbcDriver();

// How the embedded database journals: write-ahead log with synchronous=NORMAL unless
// the connection string says "Journal Mode=Delete" (rollback journal, synchronous=FULL).
enum class TJournalMode { kWal, kDelete };

// Opens the embedded SQLite database file (created when missing). Another program may
// use the file at the same time:
// - a statement waits up to `busyTimeoutMs` for a lock another session holds, and
//   one outside a transaction that still finds the database locked is run again
//   while that time lasts; only then does it fail ("database is locked");
// - BeginTransaction takes the write lock at once (BEGIN IMMEDIATE), waiting for it
//   the same way: a transaction that read and then writes would otherwise fail at its
//   first write, without waiting, whenever another session wrote in between.
std::unique_ptr<TDriverSession> OpenEmbeddedSqlite(const std::string& fileName,
                                                   TJournalMode journal = TJournalMode::kWal,
                                                   int busyTimeoutMs = kDefaultBusyTimeoutMs);
// Opens an existing embedded SQLite database file for reading only: nothing is
// created, and read access to the file is enough. A missing file raises EDataError
// with SQLSTATE 08001.
std::unique_ptr<TDriverSession> OpenEmbeddedSqliteForReading(const std::string& fileName);
// Whether threads may each use sessions of embedded databases at the same time.
// POSIX (the SQLite library): yes. Windows (the SQLite ODBC driver): no; with two
// databases in use at once, a statement now and then runs on the other database.
extern const bool kEmbeddedSessionsSideBySide;

}  // namespace qar
