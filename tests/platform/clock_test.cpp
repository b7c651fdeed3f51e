#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/stop_request.h"

namespace qar::platform {
namespace {

using namespace std::chrono_literals;

// (The blocking simulated clock is driven by the agent's watchdog tests.)
TEST(SimulatedClock, AutoAdvanceRunsHoursAtOnceAndTheHookSeesTheTimeMoved) {
  SimulatedClock clock(100.0);
  std::vector<double> seen;
  clock.OnSleep([&](std::chrono::milliseconds) { seen.push_back(clock.Now()); });
  for (int i = 0; i < 725; ++i) clock.Sleep(60s);
  EXPECT_NEAR((clock.Now() - 100.0) * 24 * 60, 725.0, 1e-9);
  EXPECT_DOUBLE_EQ(seen[0], 100.0 + MillisecondsToDays(60000));
  EXPECT_EQ(clock.SleepCount(), 725u);
}

// A stop request ends the real clock's sleeps at once, so an agent asked to end
// does not first sleep out its ten-second wait; the first request wins.
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
