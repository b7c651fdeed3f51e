#include "data/data_error.h"
#include "data/driver_session.h"
#include "data/odbc_session.h"
#include "data/session_pool.h"

namespace qar {

std::string DefaultSqlServerOdbcDriver() { return "SQL Server"; }
std::string DefaultOracleOdbcDriver() { return "Microsoft ODBC for Oracle"; }

const bool kEmbeddedSessionsSideBySide = false;

// No SQLite library is linked into the Windows build: the SQLite ODBC driver serves
// the same database file, and the SQLite dialect is recognised by the server's name.
// A locked database is waited for as long as on POSIX (the driver's Timeout; its own
// default is 100 s). The journal is the driver's JournalMode and SyncPragma.
namespace {
std::unique_ptr<TDriverSession> OpenSqliteThroughOdbc(const std::string& fileName, int busyTimeoutMs,
                                                      const std::string& options) {
  try {
    return OpenOdbcSession("Driver=SQLite3;Database=" + fileName + ";Timeout=" + std::to_string(busyTimeoutMs) +
                           options);
  } catch (const EDataError& error) {
    throw EDataError(std::string(error.what()) + ": " + fileName, error.SqlState(), error.NativeError());
  }
}
}  // namespace

std::unique_ptr<TDriverSession> OpenEmbeddedSqlite(const std::string& fileName, TJournalMode journal,
                                                   int busyTimeoutMs) {
  return OpenSqliteThroughOdbc(fileName, busyTimeoutMs,
                               journal == TJournalMode::kWal ? ";JournalMode=WAL;SyncPragma=NORMAL"
                                                             : ";JournalMode=DELETE;SyncPragma=FULL");
}

// The driver's NoCreat refuses a missing file; the session itself only ever reads.
std::unique_ptr<TDriverSession> OpenEmbeddedSqliteForReading(const std::string& fileName) {
  return OpenSqliteThroughOdbc(fileName, kDefaultBusyTimeoutMs, ";NoCreat=1");
}

// Nothing is closed at process end here: the pool may live in an in-process server
// whose static clean-up runs under the system's loader lock, where calling into the
// ODBC driver manager (which unloads drivers) can hang the process. The system closes
// the process's files and connections; a write-ahead log left behind is taken up by
// the next session that opens the database.
void EmptyAtProcessEnd(TSessionPool&) {}

}  // namespace qar
