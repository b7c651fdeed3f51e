// The system clock and the simulated clock used by tests.
#include "platform/clock.h"

#include <charconv>
#include <fstream>
#include <optional>

#include "platform/environment.h"
#include "platform/module.h"
#include "platform/no_destructor.h"
#include "platform/stop_request.h"

namespace qar::platform {

namespace {

// The shift kWallClockShiftVariable asks for, in days; 0 without one.
TDateTime WallClockShift() {
  static const std::optional<std::string> file = GetEnv(kWallClockShiftVariable);
  if (!file) return 0;
  std::ifstream in(ToNativePath(*file));
  std::string text;
  in >> text;
  long long seconds = 0;
  std::from_chars(text.data(), text.data() + text.size(), seconds);
  return static_cast<double>(seconds) / 86400.0;
}

class RealClock : public Clock {
 public:
  TDateTime Now() override { return platform::Now() + WallClockShift(); }
  std::chrono::milliseconds Elapsed() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  }
  TUtcDateTime NowUtc() override { return platform::NowUtc() + WallClockShift(); }
  TSteadyStamp Steady() override { return SystemSteadyStamp(); }
  // A program asked to stop does not sleep on.
  void Sleep(std::chrono::milliseconds duration) override { WaitForStop(duration); }
};
}  // namespace

Clock& SystemClock() {
  static NoDestructor<RealClock> clock;
  return *clock;
}

SimulatedClock::SimulatedClock(TDateTime start, bool autoAdvance)
    : base_(start), autoAdvance_(autoAdvance) {}

TDateTime SimulatedClock::Now() {
  std::lock_guard lock(mutex_);
  return base_ + MillisecondsToDays(offsetMs_);
}

std::chrono::milliseconds SimulatedClock::Elapsed() {
  std::lock_guard lock(mutex_);
  return std::chrono::milliseconds(elapsedMs_);
}

void SimulatedClock::Sleep(std::chrono::milliseconds duration) {
  std::function<void(std::chrono::milliseconds)> hook;
  {
    std::unique_lock lock(mutex_);
    ++sleepCount_;
    if (stopped_) throw ClockStopped{};
    if (autoAdvance_) {
      offsetMs_ += duration.count();
      elapsedMs_ += duration.count();
      hook = hook_;
    } else {
      const long long deadline = elapsedMs_ + duration.count();
      ++sleepers_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return elapsedMs_ >= deadline || stopped_; });
      --sleepers_;
      if (stopped_) throw ClockStopped{};
      hook = hook_;
    }
  }
  // Outside the lock: the hook may read or set the clock.
  if (hook) hook(duration);
}

void SimulatedClock::Set(TDateTime value) {
  std::lock_guard lock(mutex_);
  base_ = value;
  offsetMs_ = 0;
  changed_.notify_all();
}

void SimulatedClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  offsetMs_ += duration.count();
  elapsedMs_ += duration.count();
  changed_.notify_all();
}

bool SimulatedClock::WaitUntilParked(std::size_t sleepCalls, std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, bound, [&] { return sleepCount_ >= sleepCalls && sleepers_ > 0; });
}

void SimulatedClock::Stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  changed_.notify_all();
}

std::size_t SimulatedClock::SleepCount() {
  std::lock_guard lock(mutex_);
  return sleepCount_;
}

void SimulatedClock::OnSleep(std::function<void(std::chrono::milliseconds)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

}  // namespace qar::platform
