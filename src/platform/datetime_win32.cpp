// Windows: the local time from GetLocalTime, UTC from the system time.
#include <windows.h>

#include "platform/datetime.h"

namespace qar::platform {

namespace {
constexpr double kFileTimeEpoch = -109205.0;  // 1601-01-01 as a TDateTime
constexpr double kTicksPerDay = 864000000000.0;  // FILETIME counts 100 ns

TDateTime FromSystemTime(const SYSTEMTIME& st) {
  DateTimeParts p;
  p.year = st.wYear;
  p.month = st.wMonth;
  p.day = st.wDay;
  p.hour = st.wHour;
  p.minute = st.wMinute;
  p.second = st.wSecond;
  p.millisecond = st.wMilliseconds;
  return EncodeDateTime(p);
}
}  // namespace

TDateTime Now() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return FromSystemTime(st);
}

TUtcDateTime NowUtc() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  const ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return kFileTimeEpoch + static_cast<double>(ticks) / kTicksPerDay;
}

TDateTime UtcToLocal(TUtcDateTime utc) {
  if (!IsValidDateTime(utc) || utc < kFileTimeEpoch) return 0;
  const ULONGLONG ticks = static_cast<ULONGLONG>((utc - kFileTimeEpoch) * kTicksPerDay + 5000.0) / 10000 * 10000;
  FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME st{}, local{};
  if (!FileTimeToSystemTime(&ft, &st) || !SystemTimeToTzSpecificLocalTime(nullptr, &st, &local)) return 0;
  const TDateTime value = FromSystemTime(local);
  return IsValidDateTime(value) ? value : 0;
}

}  // namespace qar::platform
