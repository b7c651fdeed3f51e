#include "wait_until.h"

#include "platform/clock.h"

namespace qar::e2e {

namespace {

constexpr std::chrono::milliseconds kPause{100};

bool Ask(const std::function<bool()>& done) {
  try {
    return done();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, double seconds) {
  platform::Clock& clock = platform::SystemClock();
  const platform::TDateTime deadline = clock.Now() + seconds / 86400.0;
  while (clock.Now() < deadline) {
    if (Ask(done)) return true;
    clock.Sleep(kPause);
  }
  return Ask(done);
}

}  // namespace qar::e2e
