#include "data/driver_session.h"
#include "data/sqlite_session.h"

namespace qar {

std::string DefaultSqlServerOdbcDriver() { return "FreeTDS"; }
std::string DefaultOracleOdbcDriver() { return "Oracle"; }

std::unique_ptr<TDriverSession> OpenEmbeddedSqlite(const std::string& fileName) {
  return OpenSqliteSession(fileName);
}

std::unique_ptr<TDriverSession> OpenEmbeddedSqliteForReading(const std::string& fileName) {
  return OpenSqliteSessionReadOnly(fileName);
}

}  // namespace qar
