// TDateTime: days since 1899-12-30 on the local clock, and the formats the system prints.
#pragma once

#include <string>
#include <string_view>

namespace qar::platform {

// Whole days since 1899-12-30 plus the time of day as a fraction, local time.
// Differences multiplied by 24 * 60 give minutes.
using TDateTime = double;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// The representable dates: 0001-01-01 00:00 to 9999-12-31 23:59:59.999. Before the
// epoch the time of day is subtracted, so the first day spans (-693594, -693593].
inline constexpr TDateTime kMinDateTime = -693594.0;  // exclusive
inline constexpr TDateTime kMaxDateTime = 2958466.0;  // exclusive
// False for NaN, infinities and anything outside the representable dates.
constexpr bool IsValidDateTime(TDateTime value) {
  return value > kMinDateTime && value < kMaxDateTime;  // false for NaN too
}

// The current local date-time from the system clock.
TDateTime Now();

// A date-time on the UTC clock, counted as TDateTime is (days since 1899-12-30): what a
// file keeps that programs share across time zones and changes of daylight-saving time.
using TUtcDateTime = double;
// The current date-time on the UTC clock.
TUtcDateTime NowUtc();
// The local date-time of a UTC one, by the local zone's rules at that moment; 0 for a
// value that is no representable date.
TDateTime UtcToLocal(TUtcDateTime utc);
// Seconds the local clock is ahead of UTC now (negative west of Greenwich), to the minute.
int LocalOffsetSeconds();

TDateTime EncodeDateTime(const DateTimeParts& parts);
// Throws std::out_of_range for a value that is no representable date; so does
// FormatDateTime.
DateTimeParts DecodeDateTime(TDateTime value);

// Formats with the tokens the system uses: yyyy, yy, mm / m (month, or minutes
// right after an hour token), MM / M (month), dd / d, hh / h / HH / H, nn / n,
// ss / s, zzz, "/" (date separator) and ":" (time separator). Text in single or
// double quotes is copied as it is; any other character is copied too.
std::string FormatDateTime(std::string_view format, TDateTime value);

// The process's date settings (the short date format and long time format used by
// DateTimeToStr). Defaults: "dd/MM/yyyy" and "hh:nn:ss", date separator '/'.
void SetShortDateFormat(std::string_view format, char dateSeparator = '/');
std::string ShortDateFormat();
std::string LongTimeFormat();

// Short date format, a blank and the long time format.
std::string DateTimeToStr(TDateTime value);

}  // namespace qar::platform
