// POSIX: no shell command line; the agent's own executable does the restart, or the
// service manager does.
#include "agent/error_report.h"
#include "agent/restarter.h"
#include "agent/watchdog.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/stop_request.h"

namespace qar::agent {

TRestartPath ChooseRestartPath() {
  return platform::GetEnv("INVOCATION_ID") ? TRestartPath::kServiceManager : TRestartPath::kRestarter;
}

TRestartPath RestartAgent() {
  const TRestartPath path = ChooseRestartPath();
  if (path == TRestartPath::kServiceManager) {
    LogInfo("planned restart: ending with status " + std::to_string(kRestartExitStatus) +
            " for the service manager to start the agent again");
    platform::RequestStop(kRestartExitStatus, "planned restart");
    return path;
  }
  const std::string exe = platform::ExecutableFileName();
  LogInfo("planned restart: the restarter replaces the agents of " + exe);
  const platform::ProcessResult started = platform::StartDetached(exe, kRestarterArgument, platform::ExtractFileDir(exe));
  if (!started.ok) ReportError("planned restart: the restarter cannot be started: " + started.message);
  return path;
}

}  // namespace qar::agent
