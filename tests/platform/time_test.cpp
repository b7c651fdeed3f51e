// Serial date-times, their texts, and the real clock.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/stop_request.h"

namespace qar::platform {
namespace {

using namespace std::chrono_literals;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, ms});
}

TEST(DateTime, SerialNumbersRoundTripToTheMillisecond) {
  EXPECT_DOUBLE_EQ(At(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(At(2026, 12, 5, 12), 46361.5);
  EXPECT_DOUBLE_EQ(At(1899, 12, 29, 6), -1.25);  // before the epoch the time counts forward
  for (const DateTimeParts& p : {DateTimeParts{2026, 12, 5, 23, 59, 59, 999}, DateTimeParts{2000, 2, 29, 0, 0, 0, 1},
                                 DateTimeParts{1899, 12, 29, 6, 0, 0, 0}}) {
    const DateTimeParts q = DecodeDateTime(EncodeDateTime(p));
    EXPECT_EQ(std::tie(q.year, q.month, q.day, q.hour, q.minute, q.second, q.millisecond),
              std::tie(p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond));
  }
  // Exact enough for the watchdog's twelve-hour test.
  EXPECT_DOUBLE_EQ((At(2026, 12, 5, 20) - At(2026, 12, 5, 8)) * 24 * 60, 720.0);
  EXPECT_GT((At(2026, 12, 5, 20, 0, 1) - At(2026, 12, 5, 8)) * 24 * 60, 720.0);
  EXPECT_GT(Now(), At(2020, 1, 1));
}

TEST(DateTime, FormatsTheSystemUses) {
  const TDateTime t = At(2026, 12, 5, 7, 8, 9, 45);
  const struct {
    const char *format, *text;
  } cases[] = {
      {"hh:nn:ss", "07:08:09"}, {"yyyymmdd", "20261205"},         {"dd/MM/yyyy", "05/12/2026"},
      {"hh:mm", "07:08"},  // m after an hour means minutes
      {"d/m/yy zzz", "5/12/26 045"}, {"'at' hh\"h\"", "at 07h"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.format, t), c.text) << c.format;
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 5, 17, 30)), "05/12/2026 17:30:00");
  SetShortDateFormat("yyyy/MM/dd", '-');
  EXPECT_EQ(DateTimeToStr(At(2026, 12, 5, 17, 30)), "2026-12-05 17:30:00");
  SetShortDateFormat("dd/MM/yyyy", '/');
}

// A stop request ends the real clock's sleeps at once, so an agent asked to end
// does not first sleep out its ten-second wait; the first request wins.
// The UTC clock shown locally is the local clock, a value that is no date shows as not
// known, and the machine's steady clock names its boot and does not go back.
TEST(SystemClock, UtcShowsLocallyAndTheSteadyClockNamesItsBoot) {
  EXPECT_NEAR(UtcToLocal(NowUtc()), Now(), 2.0 / 86400);
  EXPECT_EQ(UtcToLocal(1e300), 0);
  const TSteadyStamp first = SystemClock().Steady();
  const TSteadyStamp second = SystemSteadyStamp();
  EXPECT_FALSE(first.boot.empty());
  EXPECT_EQ(first.boot, second.boot);
  EXPECT_GE(second.seconds, first.seconds);
}

TEST(SystemClock, ASleepEndsWhenAStopIsRequested) {
  std::thread stopper([] {
    while (!WaitForStop(1ms)) RequestStop(3, "test");
  });
  SystemClock().Sleep(std::chrono::minutes(5));
  stopper.join();
  RequestStop(4, "later");
  EXPECT_EQ(StopExitCode(), 3);
  EXPECT_EQ(StopReason(), "test");
  ClearStopRequest();
  EXPECT_FALSE(StopRequested());
}

}  // namespace
}  // namespace qar::platform
