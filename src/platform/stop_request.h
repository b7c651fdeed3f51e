// Ending a program cleanly: a process-wide stop request that signals or the program itself set.
#pragma once

#include <chrono>
#include <string>

namespace qar::platform {

// POSIX: SIGTERM and SIGINT request a stop instead of killing the process. Call it
// on the main thread before any other thread starts (they inherit the blocked
// signals; one thread then waits for them). Windows: nothing to catch.
void CatchStopSignals();

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
