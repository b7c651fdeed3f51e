#include "agent/watchdog.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "platform/environment.h"
#include "platform/module.h"
#include "platform/stop_request.h"

namespace qar::agent {
namespace {

using namespace std::chrono_literals;
constexpr platform::TDateTime kStart = 46361.25;  // 5 December 2026, 06:00

double MinutesSinceStart(platform::TDateTime t) { return (t - kStart) * 24 * 60; }

// Drives a real watchdog thread on a simulated clock, one sleep at a time. A wait
// for a sleep that never comes fails the case instead of hanging it.
class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartWatchdog({&clock_, &busy_, &lastRestart_, &lastRestartElapsed_, [this] {
                     restarts_.push_back(MinutesSinceStart(clock_.Now()));
                     if (failRestart_) throw std::runtime_error("command processor failed");
                   }, [this] { end_.set_value(); }});
  }
  void TearDown() override {
    clock_.Stop();
    ASSERT_EQ(ended_.wait_for(30s), std::future_status::ready);
  }
  // Lets the watchdog's next sleeps run out; after a failed wait the case only reports.
  void Step(std::chrono::milliseconds duration, int times = 1) {
    for (int i = 0; i < times && !HasFatalFailure(); ++i) {
      ASSERT_TRUE(clock_.WaitUntilParked(++sleeps_));
      clock_.Advance(duration);
    }
  }
  void Parked() {
    if (!HasFatalFailure()) {
      ASSERT_TRUE(clock_.WaitUntilParked(sleeps_ + 1));
    }
  }
  double LastRestart() const { return MinutesSinceStart(lastRestart_.load()); }

  platform::SimulatedClock clock_{kStart, /*autoAdvance=*/false};
  std::atomic<bool> busy_{false};
  std::atomic<platform::TDateTime> lastRestart_{kStart};
  std::atomic<long long> lastRestartElapsed_{0};
  std::vector<double> restarts_;
  bool failRestart_ = false;
  std::size_t sleeps_ = 0;
  std::promise<void> end_;
  std::shared_future<void> ended_ = end_.get_future().share();
};

TEST_F(WatchdogTest, ExactlyTwelveHoursDoesNotTriggerOneMinuteMoreDoesAndRestartsFiveMinutesLater) {
  Step(60s, 720);
  Parked();
  EXPECT_EQ(LastRestart(), 0.0);  // age 720: not greater
  Step(60s);                      // age 721: triggers
  Parked();                       // in the five-minute wait
  EXPECT_NEAR(LastRestart(), 721.0, 1e-6);
  Step(299s);
  ASSERT_TRUE(clock_.WaitUntilParked(sleeps_));  // still in the same wait
  EXPECT_TRUE(restarts_.empty());
  clock_.Advance(1s);
  Parked();  // back in the minute loop
  ASSERT_EQ(restarts_.size(), 1u);
  EXPECT_NEAR(restarts_[0], 726.0, 1e-6);
  EXPECT_NEAR(LastRestart(), 726.0, 1e-6);  // set anew after the attempt
}

// A busy worker at every test postpones the restart; the wall clock set back a day
// does not: the age runs on the steady clock.
TEST_F(WatchdogTest, ABusyWorkerPostponesTheRestartAndAClockSetBackDoesNot) {
  busy_ = true;
  Step(60s, 900);
  Parked();
  EXPECT_EQ(LastRestart(), 0.0);
  busy_ = false;
  clock_.Set(kStart - 1.0);
  Step(60s);
  Step(300s);
  Parked();
  EXPECT_EQ(restarts_.size(), 1u);
}

TEST_F(WatchdogTest, AnErrorInTheLoopEndsTheThreadQuietly) {
  failRestart_ = true;
  Step(60s, 721);
  Step(300s);
  ASSERT_EQ(ended_.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(restarts_.size(), 1u);
}

TEST(SimulatedClock, AWaitForASleepThatNeverComesFailsInsteadOfHanging) {
  platform::SimulatedClock clock(kStart, /*autoAdvance=*/false);
  EXPECT_FALSE(clock.WaitUntilParked(1, 10ms));
}

// Under systemd the unit restarts the agent: it ends with the status the unit restarts
// on. Otherwise the restarter (POSIX) or the exact command of every install (Windows).
TEST(RestartPath, TheServiceManagerRestartsAnAgentItStartedOtherwiseTheAgentDoes) {
  const std::optional<std::string> invocation = platform::GetEnv("INVOCATION_ID");
  platform::UnsetEnv("INVOCATION_ID");
  const TRestartPath plain = ChooseRestartPath();
  platform::SetEnv("INVOCATION_ID", "0123456789abcdef");
  if (platform::kPathDelim == '\\') {
    EXPECT_EQ(plain, TRestartPath::kCommandProcessor);
    EXPECT_EQ(ChooseRestartPath(), TRestartPath::kCommandProcessor);
  } else {
    EXPECT_EQ(plain, TRestartPath::kRestarter);
    EXPECT_EQ(RestartAgent(), TRestartPath::kServiceManager);
    EXPECT_TRUE(platform::StopRequested());
    EXPECT_EQ(platform::StopExitCode(), 75);
    platform::ClearStopRequest();
  }
  invocation ? platform::SetEnv("INVOCATION_ID", *invocation) : platform::UnsetEnv("INVOCATION_ID");
  EXPECT_EQ(RestartCommandLine("C:\\Agent"), "/C TASKKILL /F /IM QarSnc.exe && start /D \"C:\\Agent\" /B QarSnc.exe ");
}

}  // namespace
}  // namespace qar::agent
