// The agent's restarter on POSIX: ends this installation's agents, then starts a new one.
#pragma once

#include <string>

#include "platform/clock.h"

namespace qar::agent {

// The one argument that starts QarSnc.exe as the restarter instead of as an agent.
inline constexpr const char* kRestarterArgument = "--restart-agents";

// Ends every process of this user that runs the file `agentExe` (the restarter
// itself excepted), waits until they have ended, then starts `agentExe` in its
// directory. Agents of other installations are never touched. Starts nothing when
// an old agent survives (about 30 s of waiting). Returns the process exit code.
int RunRestarter(const std::string& agentExe, platform::Clock& clock);

}  // namespace qar::agent
