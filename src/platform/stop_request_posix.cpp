// POSIX: SIGTERM and SIGINT are blocked and taken by one waiting thread, which may do
// what a signal handler may not (lock, wake sleepers).
#include <pthread.h>
#include <signal.h>

#include <thread>

#include "platform/stop_request.h"

namespace qar::platform {

void CatchStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    RequestStop(0, signal == SIGTERM ? "SIGTERM" : "SIGINT");
  }).detach();
}

}  // namespace qar::platform
