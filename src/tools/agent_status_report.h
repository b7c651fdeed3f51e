// What `QarCfg status` and `list` tell: every agent of this installation, what it does, the queue and the runs.
#pragma once

#include <string>
#include <vector>

#include "state/status_report.h"

namespace qar::tools {

// The status as text lines, and its exit code: 0 an agent of the installation
// runs, 3 none does, 4 the state cannot be read.
std::vector<std::string> DescribeStatus(const state::TStatusReport& status);
int StatusExitCode(const state::TStatusReport& status);
inline constexpr int kExitNoAgent = 3;
inline constexpr int kExitStateUnreadable = 4;

// The requests of `list` as aligned columns with their runs.
std::vector<std::string> FormatListedRequests(const std::vector<state::TListedRequest>& requests);

// What happens after request `id` was marked for cancellation.
std::string DescribeCancelOutcome(const state::TStatusReport& status, const std::string& id);

}  // namespace qar::tools
