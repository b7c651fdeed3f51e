// Process utilities: is a program running, and stop every process of a program, by executable name.
#pragma once

#include <string>

namespace qar::agent {

// True when a running process matches `name`: the file-name part of its
// executable name (after the last backslash, slash or colon) or the whole name
// equals `name`, ignoring the case of the letters a to z only. The whole process
// list is walked.
bool IsProcessRunning(const std::string& name);

// Requests the termination (exit code 0) of every running process that matches
// `name`. Processes that cannot be opened or terminated are skipped silently.
// Does not wait for them to end.
void KillProcessByName(const std::string& name);

// The matching rule on its own.
bool ProcessNameMatches(const std::string& exeName, const std::string& name);

}  // namespace qar::agent
