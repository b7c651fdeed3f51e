// Process utilities: the agent's worker processes, watched and stopped.
#pragma once

#include <functional>
#include <string>

namespace qar::agent {

// How the dispatcher sees its workers: whether one runs, and stopping all of them
// (without waiting for them to end).
struct TWorkerWatch {
  std::function<bool()> running;
  std::function<void()> kill;
};

// The environment items the agent gives a worker: the installation (its agent's
// directory) and the request. Every process that carries the first is a worker of
// that installation, whatever program it runs: a script, or what it exec'd.
std::string WorkerMarker(const std::string& agentDir);
std::string WorkerRequestItem(const std::string& request);

// The workers of the agent in `agentDir`.
// Windows: every process named "Qartab.exe", through IsProcessRunning and
// KillProcessByName below.
// POSIX: this user's processes that carry WorkerMarker(agentDir) or run the file
// <agentDir>/QarTab.exe, each held while it is identified, so another program of
// that name, another installation's worker or a process that got a worker's id
// later is never seen or stopped.
TWorkerWatch WatchWorkers(const std::string& agentDir);

// The matching rule of the Windows process walk: the file-name part of an
// executable name (after the last backslash, slash or colon) or the whole name
// equals `name`, ignoring the case of the letters a to z only.
bool ProcessNameMatches(const std::string& exeName, const std::string& name);

// Windows only (the Toolhelp32 walk, bound at run time from kernel32):
// true when a running process matches `name` (the whole list is walked), and the
// termination (exit code 0) of every such process, skipping those that cannot be
// opened or terminated and not waiting for them to end.
bool IsProcessRunning(const std::string& name);
void KillProcessByName(const std::string& name);

}  // namespace qar::agent
