#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qar::platform {
namespace {

using namespace std::chrono_literals;

TEST(SimulatedClock, AutoAdvanceRunsHoursOfSleepAtOnce) {
  SimulatedClock clock(100.0);
  for (int i = 0; i < 725; ++i) clock.Sleep(60s);
  EXPECT_NEAR((clock.Now() - 100.0) * 24 * 60, 725.0, 1e-6);
  EXPECT_EQ(clock.SleepCount(), 725u);
}

TEST(SimulatedClock, HookRunsAfterTheTimeMoved) {
  SimulatedClock clock(0.0);
  std::vector<double> seen;
  clock.OnSleep([&](std::chrono::milliseconds) { seen.push_back(clock.Now()); });
  clock.Sleep(1000ms);
  clock.Sleep(10000ms);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_DOUBLE_EQ(seen[1], MillisecondsToDays(11000));
}

TEST(SimulatedClock, BlockingSleepWaitsForAnotherThreadToAdvance) {
  SimulatedClock clock(0.0, /*autoAdvance=*/false);
  std::atomic<bool> woke{false};
  std::thread sleeper([&] {
    clock.Sleep(60s);
    woke = true;
  });
  clock.WaitUntilParked(1);
  clock.Advance(59s);
  EXPECT_FALSE(woke.load());  // still parked: its deadline is not reached
  clock.WaitUntilParked(1);
  clock.Advance(1s);
  sleeper.join();
  EXPECT_TRUE(woke.load());
}

TEST(SimulatedClock, StopEndsParkedAndLaterSleeps) {
  SimulatedClock clock(0.0, /*autoAdvance=*/false);
  std::atomic<bool> stopped{false};
  std::thread sleeper([&] {
    try {
      clock.Sleep(60s);
    } catch (const ClockStopped&) {
      stopped = true;
    }
  });
  clock.WaitUntilParked(1);
  clock.Stop();
  sleeper.join();
  EXPECT_TRUE(stopped.load());
  EXPECT_THROW(clock.Sleep(1s), ClockStopped);
}

TEST(SimulatedClock, SettingTheClockBackIsVisible) {
  SimulatedClock clock(10.0);
  clock.Set(9.5);
  EXPECT_DOUBLE_EQ(clock.Now(), 9.5);
}

TEST(SystemClock, NowMovesForward) {
  const TDateTime a = SystemClock().Now();
  SystemClock().Sleep(2ms);
  EXPECT_GE(SystemClock().Now(), a);
}

}  // namespace
}  // namespace qar::platform
