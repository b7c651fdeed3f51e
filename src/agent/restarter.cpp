#include "agent/restarter.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "agent/error_report.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

int RunRestarter(const std::string& agentExe, platform::Clock& clock) {
  std::vector<platform::TProcessHandle> old = platform::FindProcessesOfFile(agentExe);
  std::erase_if(old, [](const platform::TProcessHandle& p) { return p.Pid() == platform::CurrentProcessId(); });
  for (const platform::TProcessHandle& agent : old) agent.Terminate();
  // A new agent that found the old one's mutex still held would end at once.
  const auto running = [&old] {
    return std::ranges::any_of(old, [](const platform::TProcessHandle& p) { return p.Running(); });
  };
  constexpr int kChecks = 300;
  for (int i = 0; running(); ++i) {
    if (i == kChecks) {
      ReportError("restart abandoned: an agent process did not end");
      return 1;
    }
    clock.Sleep(std::chrono::milliseconds(100));
  }
  const platform::ProcessResult started = platform::StartDetached(agentExe, "", platform::ExtractFileDir(agentExe));
  if (!started.ok) {
    ReportError("restart could not start " + agentExe + ": " + started.message);
    return 1;
  }
  return 0;
}

}  // namespace qar::agent
