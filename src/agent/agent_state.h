// The two values the dispatcher and the watchdog share.
#pragma once

#include <atomic>

#include "platform/datetime.h"

namespace qar::agent {

// Set while the dispatcher supervises a worker; read by the watchdog.
extern std::atomic<bool> WorkerBusy;
// When the agent started or last tried to restart itself: on the local clock, and
// as the steady clock's reading (Clock::Elapsed, milliseconds) that ages are taken from.
extern std::atomic<platform::TDateTime> LastRestartTime;
extern std::atomic<long long> LastRestartElapsedMs;

// Executable names of the agent and its worker.
inline constexpr const char* kAgentExeName = "QarSnc.exe";
inline constexpr const char* kWorkerExeName = "QarTab.exe";
// The name the dispatcher watches and stops the worker by (matched without case).
inline constexpr const char* kWorkerWatchName = "Qartab.exe";

}  // namespace qar::agent
