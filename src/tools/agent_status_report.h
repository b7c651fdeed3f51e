// What `QarCfg status` and `list` tell: every agent of this installation, what it does, the queue and the runs.
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

// This program's installation: the directory it runs from, where QarSnc.exe is.
std::string InstallationDirectory();

// The agents of the installation in `installationDir` as the state store shows
// them, and the workers left running after their agent ended. Never raises: a store
// that cannot be read is told in storeError.
TStatusReport ReadInstallationStatus(const std::string& installationDir, platform::TDateTime now);

// The queue's counts; a request whose worker runs is counted as running, not
// pending. Raises ECommandError.
TQueueCounts CountQueue(TADOConnection& connection, const TStatusReport& status);

// The status as text lines, and its exit code: 0 an agent of the installation
// runs, 3 none does, 4 the state cannot be read.
std::vector<std::string> DescribeStatus(const TStatusReport& status);
int StatusExitCode(const TStatusReport& status);
inline constexpr int kExitNoAgent = 3;
inline constexpr int kExitStateUnreadable = 4;

// The requests `list` shows with their runs: those inserted since `since` (none:
// today's and the expired pending ones), those of status `status` only when it is
// given ("running" selects the running ones). Raises ECommandError.
std::vector<TListedRequest> ListRequestsWithRuns(TADOConnection& connection, const TStatusReport& status,
                                                 std::optional<platform::TDateTime> since,
                                                 const std::string& onlyStatus);
std::vector<std::string> FormatListedRequests(const std::vector<TListedRequest>& requests);

// What happens after request `id` was marked for cancellation.
std::string DescribeCancelOutcome(const TStatusReport& status, const std::string& id);

}  // namespace qar::tools
