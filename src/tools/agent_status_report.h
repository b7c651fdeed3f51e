// What `QarCfg status` tells: whether this installation's agent runs, what it does, and the queue.
#pragma once

#include <string>
#include <vector>

namespace qar {
class TADOConnection;
}

namespace qar::tools {

// The agent of this installation (the QarSnc.exe beside QarCfg.exe) as it published
// itself, when it runs: its pid, start time and the request it supervises.
struct TRunningAgent {
  bool running = false;     // an agent of the user runs (it holds "QSYNC")
  bool ours = false;        // ... and it is this installation's
  std::string exe, pid, started, request, since;
};
TRunningAgent FindRunningAgent();

// The agent's lines of the status: whether it runs, since when, what it supervises.
std::vector<std::string> DescribeAgent(const TRunningAgent& agent);

// The queue's line: how many requests are pending today and how many were left
// pending on earlier days (the agent never runs those). Raises TCommandError.
std::string DescribeQueue(TADOConnection& connection);

}  // namespace qar::tools
