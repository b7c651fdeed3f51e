// The system log: syslog on POSIX, the Application event log on Windows.
#pragma once

#include <string>

namespace qar::platform {

// Writes one error line under the given source name. Never blocks for long and
// never fails loudly: the system log is a best-effort second copy of a message.
void WriteSystemLogError(const std::string& source, const std::string& message);

}  // namespace qar::platform
