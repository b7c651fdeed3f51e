// POSIX: the local time of day and UTC from the real-time clock and the local time zone.
#include <cmath>
#include <ctime>

#include "platform/datetime.h"

namespace qar::platform {

namespace {
constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as a TDateTime

TDateTime LocalOf(time_t seconds, long nanoseconds) {
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  DateTimeParts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec;
  p.millisecond = static_cast<int>(nanoseconds / 1000000);
  return EncodeDateTime(p);
}
}  // namespace

TDateTime Now() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return LocalOf(ts.tv_sec, ts.tv_nsec);
}

TUtcDateTime NowUtc() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return kUnixEpoch + (static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9) / 86400.0;
}

TDateTime UtcToLocal(TUtcDateTime utc) {
  if (!IsValidDateTime(utc)) return 0;
  const double seconds = std::floor((utc - kUnixEpoch) * 86400.0 * 1000.0 + 0.5) / 1000.0;
  const double whole = std::floor(seconds);
  const TDateTime local = LocalOf(static_cast<time_t>(whole), std::lround((seconds - whole) * 1000.0) * 1000000L);
  return IsValidDateTime(local) ? local : 0;
}

}  // namespace qar::platform
