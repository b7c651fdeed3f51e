// The self-restart watchdog: restarts the agent about every twelve hours when no worker is supervised.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "framework/thread.h"
#include "platform/clock.h"

namespace qar::agent {

inline constexpr long long kWatchdogTestIntervalMs = 60000;
inline constexpr double kRestartAgeMinutes = 720.0;
inline constexpr long long kRestartDelayMs = 300000;

// What the watchdog reads, writes and calls. The agent passes its shared values,
// the system clock and RestartAgent; tests pass their own.
struct WatchdogContext {
  platform::Clock* clock = nullptr;
  std::atomic<bool>* workerBusy = nullptr;
  std::atomic<platform::TDateTime>* lastRestartTime = nullptr;
  std::atomic<long long>* lastRestartElapsedMs = nullptr;  // the clock's Elapsed at that moment
  std::function<void()> restart;
  std::function<void()> onTerminate;  // called when the loop has ended (tests)
};

// The watchdog thread's class; its body is left to the class below.
class TDisparaThreadQarSnc : public TThread {
 protected:
  void Execute() override = 0;
};

// Frees itself when its loop ends and starts running at once. Create it with
// `new` and keep no reference.
class onDisparaThreadQarSnc : public TDisparaThreadQarSnc {
 public:
  explicit onDisparaThreadQarSnc(WatchdogContext context);

 protected:
  // Every minute: when no worker is supervised and more than 720 minutes have
  // passed since the last restart, wait five minutes and restart the agent. The
  // minutes are the steady clock's, so neither a clock set back (which would delay
  // the restart by as long) nor one set forward or a change of daylight-saving time
  // (which would restart at once) moves it; LastRestartTime is still kept on the
  // local clock for whoever shows it.
  void Execute() override;

 private:
  WatchdogContext context_;
};

// Starts the watchdog on the agent's shared values with the system clock. A
// failure to create the thread is dropped: the agent then runs without one.
void StartWatchdog();
void StartWatchdog(WatchdogContext context);

// The ways a planned restart goes.
enum class TRestartPath {
  kCommandProcessor,  // Windows: cmd.exe ends every QarSnc.exe and starts a new one
  kRestarter,         // POSIX: the agent's restarter (RunRestarter) replaces this installation's agents
  kServiceManager,    // POSIX under systemd: this agent ends with kRestartExitStatus and the unit starts it again
};

// The status a planned restart ends with under the service manager.
inline constexpr int kRestartExitStatus = 75;

// The path this agent's restart takes: under systemd (INVOCATION_ID set, as for
// every unit it starts) the service manager's, so the two never fight.
TRestartPath ChooseRestartPath();

// Restarts the agent by ChooseRestartPath(), says so in the log and returns the
// path taken. kServiceManager requests the stop (RequestStop) with
// kRestartExitStatus: the main thread then ends the agent cleanly.
TRestartPath RestartAgent();

// The command line handed to cmd.exe for an agent in `agentDir`.
std::string RestartCommandLine(const std::string& agentDir);

}  // namespace qar::agent
