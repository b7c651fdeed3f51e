// The system clock and the simulated clock used by tests.
#include "platform/clock.h"

#include <thread>

namespace qar::platform {

namespace {
class RealClock : public Clock {
 public:
  TDateTime Now() override { return platform::Now(); }
  void Sleep(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};
}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

SimulatedClock::SimulatedClock(TDateTime start, bool autoAdvance)
    : now_(start), autoAdvance_(autoAdvance) {}

TDateTime SimulatedClock::Now() {
  std::lock_guard lock(mutex_);
  return now_;
}

void SimulatedClock::Sleep(std::chrono::milliseconds duration) {
  std::function<void(std::chrono::milliseconds)> hook;
  {
    std::unique_lock lock(mutex_);
    ++sleepCount_;
    if (autoAdvance_) {
      now_ += MillisecondsToDays(duration.count());
      hook = hook_;
    } else {
      const TDateTime deadline = now_ + MillisecondsToDays(duration.count());
      ++sleepers_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return now_ >= deadline; });
      --sleepers_;
      hook = hook_;
    }
  }
  // Outside the lock: the hook may read or set the clock.
  if (hook) hook(duration);
}

void SimulatedClock::Set(TDateTime value) {
  std::lock_guard lock(mutex_);
  now_ = value;
  changed_.notify_all();
}

void SimulatedClock::Advance(std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  now_ += MillisecondsToDays(duration.count());
  changed_.notify_all();
}

void SimulatedClock::WaitForSleepers(std::size_t count) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return sleepers_ >= count; });
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
