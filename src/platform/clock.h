// Clock: the current time and sleeping, behind one interface so tests run in simulated time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "platform/datetime.h"

namespace qar::platform {

// A reading of the machine's steady clock that any process on the machine can compare
// with its own: seconds since the system started, suspended time included, which no
// change of the wall clock or of daylight-saving time moves, and the identity of that
// start. Two stamps of the same boot give an age; stamps of different boots, or with
// an empty boot, compare to nothing.
//   POSIX: CLOCK_BOOTTIME and the kernel's boot id (/proc/sys/kernel/random/boot_id).
//   Windows: GetTickCount64 and the system's boot time (NtQuerySystemInformation); a
//   change of the system time changes that boot identity, so stamps taken before it
//   compare to nothing, never to a wrong age.
struct TSteadyStamp {
  double seconds = 0;
  std::string boot;  // empty: not known
  bool operator==(const TSteadyStamp&) const = default;
};
TSteadyStamp SystemSteadyStamp();

// Everything that sleeps or reads the time takes a Clock. Production code uses
// SystemClock(); tests use SimulatedClock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual TDateTime Now() = 0;
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  // A reading for how long something lasted, not a time of day: only differences of
  // two readings mean anything. The system clock's is monotonic (a change of the wall
  // clock or of daylight saving time does not move it) and cheaper than Now; any other
  // clock's follows its Now.
  virtual std::chrono::milliseconds Elapsed() {
    return std::chrono::milliseconds(static_cast<long long>(Now() * 86400000.0));
  }
  // The time on the UTC clock. The system clock's is the system's; any other clock
  // has no time zone: its Now is taken as UTC.
  virtual TUtcDateTime NowUtc() { return Now(); }
  // A stamp for ages that other processes read (SystemSteadyStamp). Any clock but the
  // system's gives its Elapsed seconds under the boot "simulated".
  virtual TSteadyStamp Steady() { return {static_cast<double>(Elapsed().count()) / 1000.0, "simulated"}; }
};

// The real local clock; Sleep blocks the calling thread, and returns early once
// a stop was requested (RequestStop).
// For the end-to-end case of a wall clock set back while the agent runs: when the
// environment variable kWallClockShiftVariable names a file, the whole number of
// seconds it holds (negative: back) is added to Now and NowUtc, read anew at each
// reading; Elapsed, Steady and Sleep are never shifted.
Clock& SystemClock();
inline constexpr const char* kWallClockShiftVariable = "QARSNC_WALL_CLOCK_SHIFT_FILE";

// A clock that only moves when told to.
//
// In auto-advance mode (the default) Sleep moves the time forward by the duration
// and returns at once, so a single-threaded loop runs hours in microseconds.
// With auto-advance off, Sleep blocks until another thread has advanced the clock
// by the sleep's duration (like a real sleep, setting the clock does not end it); WaitUntilParked lets that thread know a sleeper is parked.
// Stop() makes every parked and later Sleep throw ClockStopped, so a thread that
// loops on the clock can be ended.
// OnSleep, when set, runs inside every Sleep after the time moved (auto-advance),
// so a test can change the world at a chosen simulated moment.
class SimulatedClock : public Clock {
 public:
  explicit SimulatedClock(TDateTime start, bool autoAdvance = true);

  TDateTime Now() override;
  // The time advanced so far (by Sleep and Advance): Set() moves the wall clock only,
  // as a change of the system time moves the real one and not its steady clock.
  std::chrono::milliseconds Elapsed() override;
  void Sleep(std::chrono::milliseconds duration) override;

  void Set(TDateTime value);
  void Advance(std::chrono::milliseconds duration);
  // Blocks until `sleepCalls` Sleep calls have begun and a thread is parked in
  // one (auto-advance off). False when that did not happen within `bound` of real
  // time: a test fails on it instead of hanging.
  [[nodiscard]] bool WaitUntilParked(std::size_t sleepCalls,
                                     std::chrono::milliseconds bound = std::chrono::minutes(2));
  void Stop();
  std::size_t SleepCount();  // number of Sleep calls so far
  void OnSleep(std::function<void(std::chrono::milliseconds)> hook);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  // Now() is base_ + offsetMs_, computed in one step so that whole minutes stay
  // exact however many sleeps made them up.
  TDateTime base_;
  long long offsetMs_ = 0;
  long long elapsedMs_ = 0;  // time advanced so far; Set() does not move it
  bool autoAdvance_;
  std::size_t sleepers_ = 0;
  bool stopped_ = false;
  std::size_t sleepCount_ = 0;
  std::function<void(std::chrono::milliseconds)> hook_;
};

// Thrown by a stopped SimulatedClock's Sleep.
struct ClockStopped {};

// Milliseconds as a TDateTime difference.
constexpr TDateTime MillisecondsToDays(long long ms) { return static_cast<double>(ms) / 86400000.0; }

}  // namespace qar::platform
