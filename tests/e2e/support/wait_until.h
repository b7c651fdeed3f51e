// Bounded waiting for the operating system and the programs under test.
#pragma once

#include <chrono>
#include <exception>
#include <functional>

#include "platform/clock.h"

namespace qar::e2e {

// Asks `done` again, with short real pauses, until it holds or about `seconds`
// have passed; returns its last answer. This waits for other processes, it
// measures nothing: a case never asserts how long anything took. An exception
// from `done` (a database busy or not there yet) counts as "not yet".
inline bool WaitUntil(const std::function<bool()>& done, double seconds) {
  platform::Clock& clock = platform::SystemClock();
  const platform::TDateTime end = clock.Now() + seconds / 86400.0;
  for (bool last = false; !last; clock.Sleep(std::chrono::milliseconds(100))) {
    last = clock.Now() >= end;
    try {
      if (done()) return true;
    } catch (const std::exception&) {
    }
  }
  return false;
}

}  // namespace qar::e2e
