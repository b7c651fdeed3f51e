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
  // passed since LastRestartTime, wait five minutes and restart the agent.
  void Execute() override;

 private:
  WatchdogContext context_;
};

// Starts the watchdog on the agent's shared values with the system clock. A
// failure to create the thread is dropped: the agent then runs without one.
void StartWatchdog();
void StartWatchdog(WatchdogContext context);

// Ends every agent process of this user and starts a new agent from the agent's
// directory, once the old ones have ended. Windows hands cmd.exe the command
// line below; POSIX starts the agent's restarter (RunRestarter).
void RestartAgent();

// The command line handed to cmd.exe for an agent in `agentDir`.
std::string RestartCommandLine(const std::string& agentDir);

}  // namespace qar::agent
