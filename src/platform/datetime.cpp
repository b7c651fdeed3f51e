// TDateTime arithmetic and formatting, the same on every platform.
#include "platform/datetime.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace qar::platform {

namespace {
constexpr long long kMsPerDay = 86400000LL;
// Days from 1970-01-01 to the TDateTime epoch 1899-12-30 is -25569.
constexpr long long kEpochOffset = 25569;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

struct DateSettings {
  std::mutex mutex;
  std::string shortDate = "dd/MM/yyyy";
  char dateSeparator = '/';
  std::string longTime = "hh:nn:ss";
};

DateSettings& Settings() {
  static DateSettings settings;
  return settings;
}

// Appends `value` with at least `width` digits, zeros in front (every log entry's time).
void AppendNumber(std::string& out, int value, int width) {
  if (value >= 0 && value < 100 && width <= 2) {  // days, hours, minutes, seconds
    if (value >= 10 || width == 2) out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
    return;
  }
  char buffer[16];
  int n;
  if (value < 0) {
    n = std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  } else {
    n = 0;
    do {
      buffer[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n < width) buffer[n++] = '0';
    std::reverse(buffer, buffer + n);
  }
  out.append(buffer, static_cast<std::size_t>(n));
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

int LocalOffsetSeconds() {
  // Two readings a moment apart: whole minutes absorb the moment.
  const double seconds = (Now() - NowUtc()) * 86400.0;
  return static_cast<int>(std::lround(seconds / 60.0)) * 60;
}

TDateTime EncodeDateTime(const DateTimeParts& p) {
  const long long days = DaysFromCivil(p.year, static_cast<unsigned>(p.month),
                                       static_cast<unsigned>(p.day)) + kEpochOffset;
  const double time =
      static_cast<double>(((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond) /
      kMsPerDay;
  // Before the epoch the time of day still counts forward, so it is subtracted.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  if (!IsValidDateTime(value)) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    throw std::out_of_range(std::string("Not a representable date: ") + text);
  }
  DateTimeParts p;
  double whole = std::trunc(value);
  long long ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  long long days = static_cast<long long>(whole);
  if (ms >= kMsPerDay) {  // rounding reached midnight of the next day
    ms -= kMsPerDay;
    days += value >= 0 ? 1 : -1;
  }
  CivilFromDays(days - kEpochOffset, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.hour = static_cast<int>(ms / 3600000);
  return p;
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  char dateSeparator = '/';
  if (format.find('/') != std::string_view::npos) {
    auto& s = Settings();
    std::lock_guard lock(s.mutex);
    dateSeparator = s.dateSeparator;
  }
  std::string out;
  bool afterHour = false;  // "m" right after an hour token means minutes
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c == '\'' || c == '"') {
      const std::size_t close = format.find(c, i + 1);
      const std::size_t end = close == std::string_view::npos ? format.size() : close;
      out.append(format.substr(i + 1, end - i - 1));
      i = end == format.size() ? end : end + 1;
      continue;
    }
    const char lower = Lower(c);
    std::size_t run = 1;
    while (i + run < format.size() && Lower(format[i + run]) == lower) ++run;
    switch (lower) {
      case 'y':
        run >= 3 ? AppendNumber(out, p.year, 4) : AppendNumber(out, p.year % 100, 2);
        break;
      case 'm':
        if (afterHour) {
          AppendNumber(out, p.minute, run >= 2 ? 2 : 1);
        } else {
          AppendNumber(out, p.month, run >= 2 ? 2 : 1);
        }
        break;
      case 'd':
        AppendNumber(out, p.day, run >= 2 ? 2 : 1);
        break;
      case 'h':
        AppendNumber(out, p.hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        AppendNumber(out, p.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        AppendNumber(out, p.second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        AppendNumber(out, p.millisecond, run >= 3 ? 3 : 1);
        break;
      case '/':
        out.append(run, dateSeparator);
        break;
      default:
        out.append(format.substr(i, run));
        break;
    }
    // Separators and literals between an hour and an "m" keep it a minute token.
    if (lower == 'h') {
      afterHour = true;
    } else if (lower == 'm' || lower == 'y' || lower == 'd' || lower == 'n' || lower == 's' ||
               lower == 'z') {
      afterHour = false;
    }
    i += run;
  }
  return out;
}

void SetShortDateFormat(std::string_view format, char dateSeparator) {
  auto& s = Settings();
  std::lock_guard lock(s.mutex);
  s.shortDate = std::string(format);
  s.dateSeparator = dateSeparator;
}

std::string ShortDateFormat() {
  auto& s = Settings();
  std::lock_guard lock(s.mutex);
  return s.shortDate;
}

std::string LongTimeFormat() {
  auto& s = Settings();
  std::lock_guard lock(s.mutex);
  return s.longTime;
}

std::string DateTimeToStr(TDateTime value) {
  return FormatDateTime(ShortDateFormat() + " " + LongTimeFormat(), value);
}

}  // namespace qar::platform
