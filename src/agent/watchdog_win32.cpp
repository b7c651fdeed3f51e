// Windows: the command processor ends every agent and starts the new one.
#include "agent/error_report.h"
#include "agent/watchdog.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

TRestartPath ChooseRestartPath() { return TRestartPath::kCommandProcessor; }

TRestartPath RestartAgent() {
  const std::string agentDir = platform::ExtractFileDir(platform::ExecutableFileName());
  LogInfo("planned restart: cmd.exe " + RestartCommandLine(agentDir));
  platform::StartDetached("cmd.exe", RestartCommandLine(agentDir));  // result not examined
  return TRestartPath::kCommandProcessor;
}

}  // namespace qar::agent
