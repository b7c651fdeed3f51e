#include "agent/Watchdog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

namespace qar::agent {
namespace {

using namespace std::chrono_literals;
constexpr platform::TDateTime kStart = 46361.25;  // 5 December 2026, 06:00

double MinutesSinceStart(platform::TDateTime t) { return (t - kStart) * 24 * 60; }

// Drives a real watchdog thread on a simulated clock, one sleep at a time.
class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lastRestart_ = kStart;
    WatchdogContext context{&clock_, &busy_, &lastRestart_, [this] { OnRestart(); },
                            [this] { ended_.set_value(); }};
    StartWatchdog(std::move(context));
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
    clock_.WaitUntilParked(++sleeps_);
    clock_.Advance(duration);
  }
  void Minutes(int count) {
    for (int i = 0; i < count; ++i) Step(60s);
  }

  platform::SimulatedClock clock_{kStart, /*autoAdvance=*/false};
  std::atomic<bool> busy_{false};
  std::atomic<platform::TDateTime> lastRestart_{0};
  std::vector<double> restarts_;
  bool failRestart_ = false;
  std::size_t sleeps_ = 0;
  std::promise<void> ended_;
  std::future<void> endedFuture_ = ended_.get_future();
};

TEST_F(WatchdogTest, ExactlyTwelveHoursDoesNotTriggerOneMinuteMoreDoesAndKillsFiveMinutesLater) {
  Minutes(720);
  clock_.WaitUntilParked(sleeps_ + 1);
  EXPECT_EQ(MinutesSinceStart(lastRestart_.load()), 0.0);  // age 720: not greater
  Minutes(1);                                                // age 721: triggers
  clock_.WaitUntilParked(sleeps_ + 1);                       // parked in the five-minute wait
  EXPECT_NEAR(MinutesSinceStart(lastRestart_.load()), 721.0, 1e-6);
  Step(299s);
  clock_.WaitUntilParked(sleeps_);  // still in the same wait
  EXPECT_TRUE(restarts_.empty());
  clock_.Advance(1s);
  clock_.WaitUntilParked(sleeps_ + 1);  // back in the minute loop
  ASSERT_EQ(restarts_.size(), 1u);
  EXPECT_NEAR(restarts_[0], 726.0, 1e-6);
  EXPECT_NEAR(MinutesSinceStart(lastRestart_.load()), 726.0, 1e-6);  // set anew after the attempt
}

TEST_F(WatchdogTest, ABusyWorkerAtEveryTestPostponesTheRestart) {
  busy_ = true;
  Minutes(900);
  clock_.WaitUntilParked(sleeps_ + 1);
  EXPECT_EQ(MinutesSinceStart(lastRestart_.load()), 0.0);
  busy_ = false;
  Minutes(1);
  Step(300s);
  clock_.WaitUntilParked(sleeps_ + 1);
  ASSERT_EQ(restarts_.size(), 1u);
  EXPECT_NEAR(restarts_[0], 906.0, 1e-6);
}

TEST_F(WatchdogTest, AClockSetBackDelaysTheRestart) {
  clock_.WaitUntilParked(1);
  clock_.Set(kStart - 1.0);  // one day back: the age is negative
  Minutes(720 + 1440);       // age reaches exactly 720 again
  clock_.WaitUntilParked(sleeps_ + 1);
  EXPECT_EQ(lastRestart_.load(), kStart);
  Minutes(1);
  Step(300s);
  clock_.WaitUntilParked(sleeps_ + 1);
  EXPECT_EQ(restarts_.size(), 1u);
}

TEST_F(WatchdogTest, AnErrorInTheLoopEndsTheThreadQuietly) {
  failRestart_ = true;
  Minutes(721);
  Step(300s);
  ASSERT_EQ(endedFuture_.wait_for(30s), std::future_status::ready);
  EXPECT_EQ(restarts_.size(), 1u);
}

TEST(RestartCommandLine, IsTheCommandProcessorTextForTheAgentDirectory) {
  EXPECT_EQ(RestartCommandLine("C:\\Agent"),
            "/C TASKKILL /F /IM QarSnc.exe && start /D \"C:\\Agent\" /B QarSnc.exe ");
}

}  // namespace
}  // namespace qar::agent
