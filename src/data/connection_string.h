// Connection strings in the ADO form that installations store, and the driver they select.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qar {

// "Key=Value;Key=Value" split into pairs, keys and values trimmed; a value may be
// enclosed in double or single quotes (doubled quotes inside stand for one) or,
// ODBC style, in braces.
std::vector<std::pair<std::string, std::string>> ParseConnectionString(std::string_view text);

// The value of the first key that equals `key` ignoring case; empty when absent.
std::string ConnectionStringValue(std::string_view text, std::string_view key);

// The connection string as a connection whose provider is `provider` reads it: the
// text itself when it is empty or names a Provider, an ODBC Driver or a DSN; else
// `provider` put in front ("Data Source=srv;..." read by "SQLOLEDB.1" is SQL Server).
std::string WithDefaultProvider(std::string_view text, std::string_view provider);

// How long a statement on the embedded database waits for a lock another session
// holds, unless the connection string says otherwise ("Busy Timeout"), and the most
// it may say.
inline constexpr int kDefaultBusyTimeoutMs = 5000;
inline constexpr int kMaxBusyTimeoutMs = 600000;

struct TDriverChoice {
  enum Kind { kEmbeddedSqlite, kOdbc };
  Kind kind = kOdbc;
  std::string target;  // the database file (embedded) or the ODBC connection string
  bool journalDelete = false;  // embedded: "Journal Mode=Delete" asks for the rollback journal
  int busyTimeoutMs = kDefaultBusyTimeoutMs;  // embedded: "Busy Timeout=<milliseconds>"
};

// Picks the driver by provider:
//   Provider=SQLite;Data Source=<file>          -> the embedded SQLite driver
//       ("Journal Mode=Delete": rollback journal instead of the write-ahead log;
//        "Busy Timeout=<milliseconds>", 0 to kMaxBusyTimeoutMs: the wait for a lock;
//        any other value of either raises EDataError)
//   Provider=SQLOLEDB[.1] / MSOLEDBSQL / SQLNCLI* -> ODBC, keywords translated
//       (Data Source -> Server, Initial Catalog -> Database, User ID -> UID,
//        Password -> PWD, Integrated Security=SSPI -> Trusted_Connection=yes),
//       with the Driver= of the string or else `defaultSqlServerDriver`
//   Provider=MSDAORA                             -> ODBC (DBQ, UID, PWD), Driver= or
//       `defaultOracleDriver`
//   Driver=... or DSN=... (any other or no provider) -> ODBC, the string as given
//       without its Provider key.
// Raises EDataError for a provider it does not know.
TDriverChoice ChooseDriver(std::string_view connectionString,
                           std::string_view defaultSqlServerDriver,
                           std::string_view defaultOracleDriver);

}  // namespace qar
