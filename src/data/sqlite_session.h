// The embedded SQLite driver (POSIX build only; Windows reaches SQLite through ODBC).
#pragma once

#include <memory>
#include <string>

#include "data/driver_session.h"

namespace qar {

// Opens (creating when missing) the SQLite database file `fileName` (ANSI). Other
// programs may use the same file at the same time: a locked database is waited for
// up to `busyTimeoutMs` before the statement fails, and a transaction takes the write
// lock when it begins (see OpenEmbeddedSqlite). With TJournalMode::kWal the file is
// put in write-ahead-log mode (readers and the one writer do not block each other;
// a commit syncs at checkpoints only) and the session runs synchronous=NORMAL.
std::unique_ptr<TDriverSession> OpenSqliteSession(const std::string& fileName, TJournalMode journal,
                                                  int busyTimeoutMs);
// Opens the existing file `fileName` read-only, in whatever journal mode it has; a
// missing file is an error.
std::unique_ptr<TDriverSession> OpenSqliteSessionReadOnly(const std::string& fileName);

}  // namespace qar
