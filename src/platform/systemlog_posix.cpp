// POSIX: syslog(3), facility user.
#include <syslog.h>

#include "platform/systemlog.h"

namespace qar::platform {

void WriteSystemLog(const std::string& source, LogLevel level, const std::string& message) {
  openlog(source.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
  syslog(level == LogLevel::kError ? LOG_ERR : LOG_INFO, "%s", message.c_str());
  closelog();
}

}  // namespace qar::platform
