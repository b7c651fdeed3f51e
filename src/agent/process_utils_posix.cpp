// POSIX: the workers are this user's processes of the agent's own worker file.
#include "agent/agent_state.h"
#include "agent/process_utils.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

TWorkerWatch WatchWorkers(const std::string& agentDir) {
  const std::string worker = agentDir + platform::kPathDelim + kWorkerExeName;
  return {[worker] { return !platform::FindProcessesOfFile(worker).empty(); },
          [worker] {
            for (const platform::TProcessHandle& process : platform::FindProcessesOfFile(worker)) process.Terminate();
          }};
}

}  // namespace qar::agent
