// The SQLite dialect: runs the system's T-SQL statements on a SQLite database.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qar {

// The SQL expression that yields the local current date-time as SQL Server's
// GETDATE() would print it, 'YYYY-MM-DD HH:MM:SS.mmm'.
inline constexpr std::string_view kSqliteLocalNow =
    "(strftime('%Y-%m-%d %H:%M:%f','now','localtime'))";

// Rewrites the T-SQL subset the system sends into SQLite's SQL, leaving quoted
// literals, quoted identifiers and comments untouched:
//   GETDATE()                      -> the local current date-time (also as a column default)
//   CONVERT(type, x, 103)          -> x as dd/mm/yyyy text (styles 120 and 112 too);
//   CONVERT(type, x)               -> CAST(x AS TEXT / INTEGER)
//   INT IDENTITY [(s,i)] PRIMARY KEY -> INTEGER PRIMARY KEY AUTOINCREMENT
//   NVARCHAR(MAX), VARCHAR(MAX)    -> TEXT;  VARBINARY(MAX) -> BLOB
//   @@SPID                         -> sessionId, the connection's own number
//   N'text'                        -> 'text'
// Applies to any SQLite server, embedded or reached through ODBC.
std::string TranslateTSqlToSqlite(std::string_view text, std::int64_t sessionId);

}  // namespace qar
