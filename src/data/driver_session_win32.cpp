#include "data/data_error.h"
#include "data/driver_session.h"
#include "data/odbc_session.h"

namespace qar {

std::string DefaultSqlServerOdbcDriver() { return "SQL Server"; }
std::string DefaultOracleOdbcDriver() { return "Microsoft ODBC for Oracle"; }

// No SQLite library is linked into the Windows build: the SQLite ODBC driver serves
// the same database file, and the SQLite dialect is recognised by the server's name.
// A locked database is waited for five seconds, as on POSIX (the driver's own
// default is 100 s).
namespace {
std::unique_ptr<TDriverSession> OpenSqliteThroughOdbc(const std::string& fileName, const char* options) {
  try {
    return OpenOdbcSession("Driver=SQLite3;Database=" + fileName + ";Timeout=5000" + options);
  } catch (const EDataError& error) {
    throw EDataError(std::string(error.what()) + ": " + fileName, error.SqlState(), error.NativeError());
  }
}
}  // namespace

std::unique_ptr<TDriverSession> OpenEmbeddedSqlite(const std::string& fileName) {
  return OpenSqliteThroughOdbc(fileName, "");
}

// The driver's NoCreat refuses a missing file; the session itself only ever reads.
std::unique_ptr<TDriverSession> OpenEmbeddedSqliteForReading(const std::string& fileName) {
  return OpenSqliteThroughOdbc(fileName, ";NoCreat=1");
}

}  // namespace qar
