// POSIX: no shell command line; the agent's own executable does the restart.
#include "agent/Restarter.h"
#include "agent/Watchdog.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

void RestartAgent() {
  const std::string exe = platform::ExecutableFileName();
  platform::StartDetached(exe, kRestarterArgument, platform::ExtractFileDir(exe));
}

}  // namespace qar::agent
