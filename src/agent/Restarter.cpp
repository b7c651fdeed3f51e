#include "agent/Restarter.h"

#include <chrono>
#include <vector>

#include "agent/AgentState.h"
#include "agent/ErrorReport.h"
#include "agent/ProcessUtils.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

namespace {
// This user's agent processes, the calling one excluded.
std::vector<std::uint32_t> OtherAgents() {
  std::vector<std::uint32_t> pids;
  const std::uint32_t self = platform::CurrentProcessId();
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    if (entry.pid != self && ProcessNameMatches(entry.exeName, kAgentExeName) &&
        platform::IsProcessOfCurrentUser(entry.pid)) {
      pids.push_back(entry.pid);
    }
  }
  return pids;
}
}  // namespace

int RunRestarter(const std::string& agentDir, platform::Clock& clock) {
  for (std::uint32_t pid : OtherAgents()) platform::TerminateProcessById(pid);
  // A new agent that found the old one's mutex still held would end at once.
  constexpr int kChecks = 300;
  for (int i = 0; !OtherAgents().empty(); ++i) {
    if (i == kChecks) {
      ReportError("restart abandoned: an agent process did not end");
      return 1;
    }
    clock.Sleep(std::chrono::milliseconds(100));
  }
  const std::string exe = agentDir + platform::kPathDelim + kAgentExeName;
  const platform::ProcessResult started = platform::StartDetached(exe, "", agentDir);
  if (!started.ok) {
    ReportError("restart could not start " + exe + ": " + started.message);
    return 1;
  }
  return 0;
}

}  // namespace qar::agent
