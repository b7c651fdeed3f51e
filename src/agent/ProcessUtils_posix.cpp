// POSIX: the process list of the platform layer with the same matching rules.
#include "agent/ProcessUtils.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"

namespace qar::agent {

namespace {
// Lists only processes whose short name can start the wanted file name: the
// system cuts short names, so a short name that is a prefix may still match.
platform::ProcessSnapshot Candidates(const std::string& name) {
  const std::string fileName = platform::ExtractFileName(name);
  return platform::SnapshotProcesses([&fileName](std::string_view shortName) {
    return shortName.size() <= fileName.size() &&
           platform::SameTextAscii(shortName, std::string_view(fileName).substr(0, shortName.size()));
  });
}
}  // namespace

bool IsProcessRunning(const std::string& name) {
  bool result = false;
  for (const platform::ProcessEntry& entry : Candidates(name).entries) {
    if (ProcessNameMatches(entry.exeName, name)) result = true;  // the walk always ends the list
  }
  return result;
}

void KillProcessByName(const std::string& name) {
  for (const platform::ProcessEntry& entry : Candidates(name).entries) {
    if (ProcessNameMatches(entry.exeName, name)) platform::TerminateProcessById(entry.pid);
  }
}

}  // namespace qar::agent
