// POSIX: the process list of the platform layer with the same matching rules.
#include "agent/ProcessUtils.h"
#include "platform/process.h"

namespace qar::agent {

bool IsProcessRunning(const std::string& name) {
  bool result = false;
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    if (ProcessNameMatches(entry.exeName, name)) result = true;  // the walk always ends the list
  }
  return result;
}

void KillProcessByName(const std::string& name) {
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    if (ProcessNameMatches(entry.exeName, name)) platform::TerminateProcessById(entry.pid);
  }
}

}  // namespace qar::agent
