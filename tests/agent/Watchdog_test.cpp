#include "agent/Watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
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
    lastRestart_ = kStart;
    StartWatchdog({&clock_, &busy_, &lastRestart_, [this] { OnRestart(); }, [this] { ended_.set_value(); }});
  }
  void TearDown() override {
    clock_.Stop();
    ASSERT_EQ(endedFuture_.wait_for(30s), std::future_status::ready);
  }
  void OnRestart() {
    restarts_.push_back(MinutesSinceStart(clock_.Now()));
    if (failRestart_) throw std::runtime_error("command processor failed");
  }
  // Lets the watchdog's current sleep run out.
  void Step(std::chrono::milliseconds duration) {
    ASSERT_TRUE(clock_.WaitUntilParked(++sleeps_));
    clock_.Advance(duration);
  }
  void Minutes(int count) {
    for (int i = 0; i < count; ++i) Step(60s);
  }
  void Parked() { ASSERT_TRUE(clock_.WaitUntilParked(sleeps_ + 1)); }

  platform::SimulatedClock clock_{kStart, /*autoAdvance=*/false};
  std::atomic<bool> busy_{false};
  std::atomic<platform::TDateTime> lastRestart_{0};
  std::vector<double> restarts_;
  bool failRestart_ = false;
  std::size_t sleeps_ = 0;
  std::promise<void> ended_;
  std::future<void> endedFuture_ = ended_.get_future();
};

TEST_F(WatchdogTest, ExactlyTwelveHoursDoesNotTriggerOneMinuteMoreDoesAndRestartsFiveMinutesLater) {
  Minutes(720);
  Parked();
  EXPECT_EQ(MinutesSinceStart(lastRestart_.load()), 0.0);  // age 720: not greater
  Minutes(1);                                                // age 721: triggers
  Parked();                                                  // in the five-minute wait
  EXPECT_NEAR(MinutesSinceStart(lastRestart_.load()), 721.0, 1e-6);
  Step(299s);
  ASSERT_TRUE(clock_.WaitUntilParked(sleeps_));  // still in the same wait
  EXPECT_TRUE(restarts_.empty());
  clock_.Advance(1s);
  Parked();  // back in the minute loop
  ASSERT_EQ(restarts_.size(), 1u);
  EXPECT_NEAR(restarts_[0], 726.0, 1e-6);
  EXPECT_NEAR(MinutesSinceStart(lastRestart_.load()), 726.0, 1e-6);  // set anew after the attempt
}

TEST_F(WatchdogTest, ABusyWorkerAtEveryTestPostponesTheRestart) {
  busy_ = true;
  Minutes(900);
  Parked();
  EXPECT_EQ(MinutesSinceStart(lastRestart_.load()), 0.0);
  busy_ = false;
  Minutes(1);
  Step(300s);
  Parked();
  ASSERT_EQ(restarts_.size(), 1u);
  EXPECT_NEAR(restarts_[0], 906.0, 1e-6);
}

TEST_F(WatchdogTest, AClockSetBackDelaysTheRestart) {
  ASSERT_TRUE(clock_.WaitUntilParked(1));
  clock_.Set(kStart - 1.0);  // one day back: the age is negative
  Minutes(720 + 1440);       // age reaches exactly 720 again
  Parked();
  EXPECT_EQ(lastRestart_.load(), kStart);
  Minutes(1);
  Step(300s);
  Parked();
  EXPECT_EQ(restarts_.size(), 1u);
}

TEST_F(WatchdogTest, AnErrorInTheLoopEndsTheThreadQuietly) {
  failRestart_ = true;
  Minutes(721);
  Step(300s);
  ASSERT_EQ(endedFuture_.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(restarts_.size(), 1u);
}

TEST(SimulatedClock, AWaitForASleepThatNeverComesFailsInsteadOfHanging) {
  platform::SimulatedClock clock(kStart, /*autoAdvance=*/false);
  EXPECT_FALSE(clock.WaitUntilParked(1, 10ms));
}

TEST(RestartPath, TheServiceManagerRestartsAnAgentItStartedOtherwiseTheAgentDoes) {
  const std::optional<std::string> invocation = platform::GetEnv("INVOCATION_ID");
  platform::UnsetEnv("INVOCATION_ID");
  const TRestartPath plain = ChooseRestartPath();
  platform::SetEnv("INVOCATION_ID", "0123456789abcdef");
  const TRestartPath underSystemd = ChooseRestartPath();
  if (platform::kPathDelim == '\\') {  // Windows
    EXPECT_EQ(plain, TRestartPath::kCommandProcessor);
    EXPECT_EQ(underSystemd, TRestartPath::kCommandProcessor);  // the exact command of every install
  } else {
    EXPECT_EQ(plain, TRestartPath::kRestarter);
    EXPECT_EQ(underSystemd, TRestartPath::kServiceManager);
    // The restart itself: the agent is asked to end with the status the unit restarts on.
    EXPECT_EQ(RestartAgent(), TRestartPath::kServiceManager);
    EXPECT_TRUE(platform::StopRequested());
    EXPECT_EQ(platform::StopExitCode(), kRestartExitStatus);
    EXPECT_EQ(kRestartExitStatus, 75);
    platform::ClearStopRequest();
  }
  invocation ? platform::SetEnv("INVOCATION_ID", *invocation) : platform::UnsetEnv("INVOCATION_ID");
}

TEST(RestartCommandLine, IsTheCommandProcessorTextForTheAgentDirectory) {
  EXPECT_EQ(RestartCommandLine("C:\\Agent"),
            "/C TASKKILL /F /IM QarSnc.exe && start /D \"C:\\Agent\" /B QarSnc.exe ");
}

}  // namespace
}  // namespace qar::agent
