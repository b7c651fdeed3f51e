// What `QarCfg status` tells: whether this installation's agent runs, what it does, and the queue.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "tools/state_json.h"

namespace qar {
class TADOConnection;
}

namespace qar::tools {

// The agent of this installation (the QarSnc.exe beside QarCfg.exe) as it published
// itself, when it runs: its pid, start time and the request it supervises.
struct TRunningAgent {
  bool running = false;     // an agent of the user runs (it holds "QSYNC")
  bool ours = false;        // ... and it is this installation's
  std::string exe, pid, started, request, since;
};
TRunningAgent FindRunningAgent();

// The agent's lines of the status: whether it runs, since when, what it supervises.
std::vector<std::string> DescribeAgent(const TRunningAgent& agent);

// The queue's line: how many requests are pending today and how many were left
// pending on earlier days (the agent never runs those). Raises TCommandError.
std::string DescribeQueue(TADOConnection& connection);

// ---- From the installation's state store (every agent, whatever its user).

// This program's installation: the directory it runs from, where QarSnc.exe is.
std::string InstallationDirectory();

// The agents of the installation in `installationDir` as the state store shows
// them, and the workers left running after their agent ended. Never raises: a store
// that cannot be read is told in storeError.
TStatusReport ReadInstallationStatus(const std::string& installationDir, platform::TDateTime now);

// The queue's counts; a request whose worker runs is counted as running, not
// pending. Raises TCommandError.
TQueueCounts CountQueue(TADOConnection& connection, const TStatusReport& status);

// The status as text lines, and its exit code: 0 an agent of the installation
// runs, 3 none does, 4 the state cannot be read.
std::vector<std::string> DescribeStatus(const TStatusReport& status);
int StatusExitCode(const TStatusReport& status);
inline constexpr int kExitNoAgent = 3;
inline constexpr int kExitStateUnreadable = 4;

// The requests `list` shows with their runs: those inserted since `since` (none:
// today's and the expired pending ones), those of status `status` only when it is
// given ("running" selects the running ones). Raises TCommandError.
std::vector<TListedRequest> ListRequestsWithRuns(TADOConnection& connection, const TStatusReport& status,
                                                 std::optional<platform::TDateTime> since,
                                                 const std::string& onlyStatus);
std::vector<std::string> FormatListedRequests(const std::vector<TListedRequest>& requests);

// What happens after request `id` was marked for cancellation.
std::string DescribeCancelOutcome(const TStatusReport& status, const std::string& id);

}  // namespace qar::tools
