#include <cstdlib>

#include "data/driver_session.h"
#include "data/session_pool.h"
#include "data/sqlite_session.h"

namespace qar {

const bool kEmbeddedSessionsSideBySide = true;

std::string DefaultSqlServerOdbcDriver() { return "FreeTDS"; }
std::string DefaultOracleOdbcDriver() { return "Oracle"; }

std::unique_ptr<TDriverSession> OpenEmbeddedSqlite(const std::string& fileName, TJournalMode journal,
                                                   int busyTimeoutMs) {
  return OpenSqliteSession(fileName, journal, busyTimeoutMs);
}

// Pooled sessions end with the process as closed connections would: a write-ahead
// log is checkpointed and removed by the last session that closes it.
void EmptyAtProcessEnd(TSessionPool& pool) {
  static TSessionPool* ending = nullptr;
  ending = &pool;
  std::atexit([] { ending->Clear(); });
}

std::unique_ptr<TDriverSession> OpenEmbeddedSqliteForReading(const std::string& fileName) {
  return OpenSqliteSessionReadOnly(fileName);
}

}  // namespace qar
