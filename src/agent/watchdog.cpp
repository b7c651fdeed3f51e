#include "agent/watchdog.h"

#include <chrono>

#include "agent/agent_state.h"
#include "platform/stop_request.h"

namespace qar::agent {

onDisparaThreadQarSnc::onDisparaThreadQarSnc(WatchdogContext context) : context_(std::move(context)) {
  SetFreeOnTerminate(true);
  OnTerminate = context_.onTerminate;
  Start();
}

void onDisparaThreadQarSnc::Execute() {
  using std::chrono::milliseconds;
  platform::Clock& clock = *context_.clock;
  // A program asked to end has no restart to make.
  for (;;) {
    clock.Sleep(milliseconds(kWatchdogTestIntervalMs));
    if (platform::StopRequested()) break;
    if (context_.workerBusy->load()) continue;
    const double ageMinutes = (clock.Now() - context_.lastRestartTime->load()) * 24 * 60;
    if (!(ageMinutes > kRestartAgeMinutes)) continue;
    context_.lastRestartTime->store(clock.Now());
    clock.Sleep(milliseconds(kRestartDelayMs));
    if (platform::StopRequested()) break;
    context_.restart();
    context_.lastRestartTime->store(clock.Now());
  }
}

void StartWatchdog(WatchdogContext context) {
  try {
    new onDisparaThreadQarSnc(std::move(context));  // frees itself
  } catch (...) {
    // Without a thread the agent runs on without its watchdog.
  }
}

void StartWatchdog() {
  StartWatchdog({&platform::SystemClock(), &WorkerBusy, &LastRestartTime, &RestartAgent, {}});
}

std::string RestartCommandLine(const std::string& agentDir) {
  return std::string("/C TASKKILL /F /IM QarSnc.exe && start /D \"") + agentDir +
         "\" /B QarSnc.exe ";
}

}  // namespace qar::agent
