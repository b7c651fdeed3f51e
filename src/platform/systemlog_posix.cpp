// POSIX: syslog(3), facility user.
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/systemlog.h"

namespace qar::platform {

bool StandardErrorIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  unsigned long long device = 0;
  unsigned long long inode = 0;
  char end = 0;
  if (stream == nullptr || std::sscanf(stream, "%llu:%llu%c", &device, &inode, &end) != 2) return false;
  struct stat st {};
  // Inherited by a program that redirected its standard error, the variable names another file.
  return ::fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

void WriteSystemLog(const std::string& source, LogLevel level, const std::string& message) {
  openlog(source.c_str(), LOG_PID | LOG_NDELAY, LOG_USER);
  syslog(level == LogLevel::kError ? LOG_ERR : LOG_INFO, "%s", message.c_str());
  closelog();
}

}  // namespace qar::platform
