// POSIX: syslog(3), facility user.
#include <syslog.h>

#include "platform/systemlog.h"

namespace qar::platform {

void WriteSystemLogError(const std::string& source, const std::string& message) {
  openlog(source.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
  syslog(LOG_ERR, "%s", message.c_str());
  closelog();
}

}  // namespace qar::platform
