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
    const auto restarted = [&] {
      context_.lastRestartTime->store(clock.Now());
      context_.lastRestartElapsedMs->store(clock.Elapsed().count());
    };
    const double ageMinutes = static_cast<double>(clock.Elapsed().count() - context_.lastRestartElapsedMs->load()) / 60000.0;
    if (!(ageMinutes > kRestartAgeMinutes)) continue;
    restarted();
    clock.Sleep(milliseconds(kRestartDelayMs));
    if (platform::StopRequested()) break;
    context_.restart();
    restarted();
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
  StartWatchdog({&platform::SystemClock(), &WorkerBusy, &LastRestartTime, &LastRestartElapsedMs, &RestartAgent, {}});
}

std::string RestartCommandLine(const std::string& agentDir) {
  return std::string("/C TASKKILL /F /IM QarSnc.exe && start /D \"") + agentDir +
         "\" /B QarSnc.exe ";
}

}  // namespace qar::agent
