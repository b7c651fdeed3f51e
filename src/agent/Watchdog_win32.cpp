// Windows: the command processor ends every agent and starts the new one.
#include "agent/Watchdog.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

void RestartAgent() {
  const std::string agentDir = platform::ExtractFileDir(platform::ExecutableFileName());
  platform::StartDetached("cmd.exe", RestartCommandLine(agentDir));  // result not examined
}

}  // namespace qar::agent
