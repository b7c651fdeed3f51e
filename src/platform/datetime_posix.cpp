// POSIX: the local time of day from the real-time clock and the local time zone.
#include <ctime>

#include "platform/datetime.h"

namespace qar::platform {

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  DateTimeParts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec;
  p.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return EncodeDateTime(p);
}

}  // namespace qar::platform
