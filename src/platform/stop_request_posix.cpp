// POSIX: every signal that would end the program unannounced is blocked and taken by one
// waiting thread, which may do what a signal handler may not (lock, log, wake sleepers).
// The faults a thread causes itself (SIGSEGV and the like) cannot wait: a handler writes
// their line with write(2) and lets the earlier action end the process.
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "platform/module.h"
#include "platform/process.h"
#include "platform/stop_request.h"

namespace qar::platform {

namespace {

constexpr int kAsynchronous[] = {SIGTERM, SIGINT,    SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE,
                                 SIGPOLL, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGPWR,  SIGSTKFLT};
constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGSYS, SIGTRAP};

// Prepared before any fault: a handler may not format or allocate.
struct TFaultLine {
  char text[160] = {};
  std::size_t length = 0;
  struct sigaction previous {};
};
TFaultLine gFaultLines[NSIG];

void OnFault(int signal) {
  const TFaultLine& line = gFaultLines[signal];
  [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line.text, line.length);
  ::sigaction(signal, &line.previous, nullptr);  // the earlier action (the default: end, with a core)
  ::raise(signal);
}

// The signal's name for a line or a stop reason, its number when it has none.
std::string SignalText(int signal) {
  const std::string name = SignalName(signal);
  return name.empty() ? "signal " + std::to_string(signal) : name;
}

}  // namespace

void CatchStopSignals(const std::string& program, int hangupExitCode) {
  for (const int signal : kFaults) {
    TFaultLine& line = gFaultLines[signal];
    const std::string name = program.empty() ? ExtractFileName(ExecutableFileName()) : program;
    const int length = std::snprintf(line.text, sizeof line.text, "%s[%u]: error: ended by %s\n", name.c_str(),
                                     CurrentProcessId(), SignalText(signal).c_str());
    line.length = length > 0 ? std::min(static_cast<std::size_t>(length), sizeof line.text - 1) : 0;
    struct sigaction action {};
    action.sa_handler = OnFault;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, &line.previous);
  }

  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : kAsynchronous) sigaddset(&signals, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, hangupExitCode] {
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    // TERM and INT are the ordinary ways to stop it; HUP is the operator's "start
    // again"; any other is unexpected, and the exit status says which it was.
    const int exitCode = signal == SIGTERM || signal == SIGINT ? 0 : signal == SIGHUP ? hangupExitCode : 128 + signal;
    RequestStop(exitCode, SignalText(signal));
  }).detach();
}

}  // namespace qar::platform
