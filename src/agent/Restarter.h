// The agent's restarter on POSIX: ends this user's agents, then starts a new one.
#pragma once

#include <string>

#include "platform/clock.h"

namespace qar::agent {

// The one argument that starts QarSnc.exe as the restarter instead of as an agent.
inline constexpr const char* kRestarterArgument = "--restart-agents";

// Ends every process of this user named QarSnc.exe but itself, waits until they
// have ended, then starts QarSnc.exe from `agentDir` (its working directory).
// Starts nothing when an old agent survives (about 30 s of waiting). Returns
// the process exit code.
int RunRestarter(const std::string& agentDir, platform::Clock& clock);

}  // namespace qar::agent
