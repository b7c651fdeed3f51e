// Removing a test's SQLite database: its pooled sessions first, then the file with its logs.
#pragma once

#include <cstdio>
#include <string>

#include "data/session_pool.h"

namespace qar::testing {

// A session kept in the process's pool would hold the old file's log beside the name
// a later test creates its database at.
inline void RemoveDatabaseFiles(const std::string& file) {
  ProcessSessionPool().Clear();
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((file + suffix).c_str());
}

}  // namespace qar::testing
