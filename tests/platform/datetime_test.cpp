#include "platform/datetime.h"

#include <gtest/gtest.h>

namespace qar::platform {
namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms});
}

TEST(DateTime, EpochAndKnownDaysHaveTheirSerialNumbers) {
  EXPECT_DOUBLE_EQ(At(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(At(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(At(2026, 12, 5), 46361.0);
  EXPECT_DOUBLE_EQ(At(2026, 12, 5, 12), 46361.5);
  EXPECT_DOUBLE_EQ(At(1899, 12, 29, 6), -1.25);  // before the epoch the time counts forward
}

TEST(DateTime, DecodeInvertsEncodeToTheMillisecond) {
  for (const DateTimeParts& p : {DateTimeParts{2026, 12, 5, 23, 59, 59, 999},
                                 DateTimeParts{2000, 2, 29, 0, 0, 0, 1},
                                 DateTimeParts{1970, 1, 1, 13, 7, 5, 250},
                                 DateTimeParts{1899, 12, 29, 6, 0, 0, 0}}) {
    const DateTimeParts q = DecodeDateTime(EncodeDateTime(p));
    EXPECT_EQ(std::tie(q.year, q.month, q.day, q.hour, q.minute, q.second, q.millisecond),
              std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond));
  }
}

TEST(DateTime, MinuteDifferencesAreExactEnoughForTheTwelveHourTest) {
  const TDateTime start = At(2026, 12, 5, 8);
  EXPECT_DOUBLE_EQ((At(2026, 12, 5, 20) - start) * 24 * 60, 720.0);
  EXPECT_GT((At(2026, 12, 5, 20, 0, 1) - start) * 24 * 60, 720.0);
}

TEST(DateTime, FormatsTheSystemUses) {
  const TDateTime t = At(2026, 12, 5, 7, 8, 9, 45);
  EXPECT_EQ(FormatDateTime("hh:nn:ss", t), "07:08:09");
  EXPECT_EQ(FormatDateTime("yyyymmdd", t), "20261205");
  EXPECT_EQ(FormatDateTime("dd/MM/yyyy", t), "05/12/2026");
  EXPECT_EQ(FormatDateTime("hh:mm", t), "07:08");  // m after an hour means minutes
  EXPECT_EQ(FormatDateTime("d/m/yy zzz", t), "5/12/26 045");
  EXPECT_EQ(FormatDateTime("'at' hh\"h\"", t), "at 07h");
}

TEST(DateTime, DateTimeToStrFollowsTheProcessShortDateFormat) {
  const TDateTime t = At(2026, 12, 5, 17, 30, 0);
  EXPECT_EQ(DateTimeToStr(t), "05/12/2026 17:30:00");
  SetShortDateFormat("yyyy/MM/dd", '-');
  EXPECT_EQ(DateTimeToStr(t), "2026-12-05 17:30:00");
  SetShortDateFormat("dd/MM/yyyy", '/');
  EXPECT_EQ(ShortDateFormat(), "dd/MM/yyyy");
}

TEST(DateTime, NowIsTheLocalClock) {
  const TDateTime now = Now();
  EXPECT_GT(now, At(2020, 1, 1));
  EXPECT_LT(now, At(2200, 1, 1));
}

}  // namespace
}  // namespace qar::platform
