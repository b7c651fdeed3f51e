// The stop request shared by the signal catcher, the program and its sleeps.
#include "platform/stop_request.h"

#include <condition_variable>
#include <mutex>

#include "platform/no_destructor.h"

namespace qar::platform {

namespace {
struct StopState {
  std::mutex mutex;
  std::condition_variable changed;
  bool requested = false;
  int exitCode = 0;
  std::string reason;
};

StopState& State() {
  static NoDestructor<StopState> state;
  return *state;
}
}  // namespace

void RequestStop(int exitCode, const std::string& reason) {
  StopState& state = State();
  std::lock_guard lock(state.mutex);
  if (state.requested) return;
  state.requested = true;
  state.exitCode = exitCode;
  state.reason = reason;
  state.changed.notify_all();
}

bool StopRequested() {
  std::lock_guard lock(State().mutex);
  return State().requested;
}

int StopExitCode() {
  std::lock_guard lock(State().mutex);
  return State().exitCode;
}

std::string StopReason() {
  std::lock_guard lock(State().mutex);
  return State().reason;
}

bool WaitForStop(std::chrono::milliseconds duration) {
  StopState& state = State();
  std::unique_lock lock(state.mutex);
  return state.changed.wait_for(lock, duration, [&] { return state.requested; });
}

void ClearStopRequest() {
  StopState& state = State();
  std::lock_guard lock(state.mutex);
  state.requested = false;
  state.exitCode = 0;
  state.reason.clear();
}

}  // namespace qar::platform
