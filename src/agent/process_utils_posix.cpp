// POSIX: the workers are this user's processes marked as this installation's, or of its worker file.
#include "agent/agent_state.h"
#include "agent/process_utils.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

TWorkerWatch WatchWorkers(const std::string& agentDir) {
  const std::string worker = agentDir + platform::kPathDelim + kWorkerExeName;
  const std::string marker = WorkerMarker(agentDir);
  return {[worker, marker] { return !platform::FindMarkedProcesses(worker, marker).empty(); },
          [worker, marker] {
            for (const platform::TProcessHandle& process : platform::FindMarkedProcesses(worker, marker))
              process.Terminate();
          }};
}

}  // namespace qar::agent
