// Ending a program cleanly: a process-wide stop request that signals or the program itself set.
#pragma once

#include <chrono>
#include <string>

namespace qar::platform {

// POSIX: every catchable signal whose default is to end the process requests a stop
// instead, so the program ends cleanly and says why (the reason is the signal's name):
// SIGTERM and SIGINT with exit code 0, SIGHUP with `hangupExitCode`, any other with
// 128 + its number. The faults a thread causes itself (SIGSEGV, SIGABRT, ...) write
// "<program>[<pid>]: error: ended by SIGSEGV" to standard error (an empty `program`:
// the executable's file name) and end the process as before. Call it on the main thread before any other thread starts (they inherit
// the blocked signals; one thread then waits for them). Windows: nothing to catch.
void CatchStopSignals(const std::string& program = {}, int hangupExitCode = 0);

// Asks the program to end with `exitCode`; `reason` says why ("SIGTERM", ...). The
// first request wins. Wakes every sleep of SystemClock() and WaitForStop().
void RequestStop(int exitCode, const std::string& reason);
bool StopRequested();
int StopExitCode();         // 0 until a stop is requested
std::string StopReason();   // empty until a stop is requested
// Waits up to `duration`; true as soon as a stop is requested.
bool WaitForStop(std::chrono::milliseconds duration);
// Forgets the request (tests).
void ClearStopRequest();

}  // namespace qar::platform
