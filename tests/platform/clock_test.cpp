#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/stop_request.h"

namespace qar::platform {
namespace {

using namespace std::chrono_literals;

TEST(SimulatedClock, AutoAdvanceRunsHoursAtOnceAndTheHookSeesTheTimeMoved) {
  SimulatedClock clock(100.0);
  std::vector<double> seen;
  clock.OnSleep([&](std::chrono::milliseconds) { seen.push_back(clock.Now()); });
  for (int i = 0; i < 725; ++i) clock.Sleep(60s);
  EXPECT_NEAR((clock.Now() - 100.0) * 24 * 60, 725.0, 1e-9);
  EXPECT_DOUBLE_EQ(seen[0], 100.0 + MillisecondsToDays(60000));
  EXPECT_EQ(clock.SleepCount(), 725u);
  clock.Set(9.5);
  EXPECT_DOUBLE_EQ(clock.Now(), 9.5);
}

TEST(SimulatedClock, BlockingSleepWaitsForItsWholeDurationAndStopEndsIt) {
  SimulatedClock clock(0.0, /*autoAdvance=*/false);
  std::atomic<int> woke{0};
  std::thread sleeper([&] {
    clock.Sleep(60s);
    woke = 1;
    try {
      clock.Sleep(60s);
    } catch (const ClockStopped&) {
      woke = 2;
    }
  });
  ASSERT_TRUE(clock.WaitUntilParked(1));
  clock.Advance(59s);
  EXPECT_EQ(woke.load(), 0);  // still parked: its deadline is not reached
  clock.Advance(1s);
  ASSERT_TRUE(clock.WaitUntilParked(2));
  clock.Stop();
  sleeper.join();
  EXPECT_EQ(woke.load(), 2);
  EXPECT_THROW(clock.Sleep(1s), ClockStopped);
}

// A stop request ends the real clock's sleeps at once, so an agent asked to end
// does not first sleep out its ten-second wait.
TEST(SystemClock, ASleepEndsWhenAStopIsRequested) {
  std::thread stopper([] {
    while (!WaitForStop(1ms)) RequestStop(3, "test");
  });
  SystemClock().Sleep(std::chrono::minutes(5));
  stopper.join();
  EXPECT_EQ(StopExitCode(), 3);
  EXPECT_EQ(StopReason(), "test");
  RequestStop(4, "later");  // the first request wins
  EXPECT_EQ(StopExitCode(), 3);
  ClearStopRequest();
  EXPECT_FALSE(StopRequested());
}

}  // namespace
}  // namespace qar::platform
