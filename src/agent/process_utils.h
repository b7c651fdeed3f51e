// Process utilities: the Windows process walk by executable name, as the dispatcher first knew its workers.
#pragma once

#include <string>

namespace qar::agent {

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
