// Windows: the local time from GetLocalTime.
#include <windows.h>

#include "platform/datetime.h"

namespace qar::platform {

TDateTime Now() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
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

}  // namespace qar::platform
