// The ODBC driver: SQL Server, Oracle, SQLite or any data source through the wide (UTF-16) ODBC API.
#pragma once

#include <memory>
#include <string>

#include "data/driver_session.h"

namespace qar {

// Connects with an ODBC connection string ("Driver=...;..." or "DSN=...") without
// prompting. Uses only the wide ODBC functions: some driver managers (Wine's odbc32)
// implement no others.
std::unique_ptr<TDriverSession> OpenOdbcSession(const std::string& odbcConnectionString);

// The server's message without the "[vendor][driver]" prefixes the ODBC layers add.
std::string StripOdbcPrefixes(const std::string& message);

}  // namespace qar
