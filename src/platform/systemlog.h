// The system log: syslog on POSIX, the Application event log on Windows.
#pragma once

#include <string>

namespace qar::platform {

enum class LogLevel { kInfo, kError };

// True when standard error is the system journal (POSIX: the service manager names it
// in JOURNAL_STREAM as "<device>:<inode>"), where a line written there is already in the
// system log. Windows: false.
bool StandardErrorIsJournal();

// Writes one line under the given source name. Never blocks for long and never
// fails loudly: the system log is a best-effort second copy of a message.
void WriteSystemLog(const std::string& source, LogLevel level, const std::string& message);

}  // namespace qar::platform
