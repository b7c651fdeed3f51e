// Windows: the Application event log.
#include <windows.h>

#include "platform/systemlog.h"

namespace qar::platform {

bool StandardErrorIsJournal() { return false; }

void WriteSystemLog(const std::string& source, LogLevel level, const std::string& message) {
  HANDLE log = RegisterEventSourceA(nullptr, source.c_str());
  if (log == nullptr) return;
  const char* strings[] = {message.c_str()};
  ReportEventA(log, level == LogLevel::kError ? EVENTLOG_ERROR_TYPE : EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0,
               strings, nullptr);
  DeregisterEventSource(log);
}

}  // namespace qar::platform
