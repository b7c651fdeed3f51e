// The installation's metrics for Prometheus: what /metrics and `QarCfg.exe metrics` print.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "state/run_counters.h"

namespace qar::tools {

// One running agent and when it last polled.
struct TAgentPoll {
  std::uint32_t pid = 0;
  std::string user;  // UTF-8
  double lastPollUnixSeconds = 0;
};

// What one scrape reports. A part that could not be read stays empty and its
// families are left out; its *_up gauge says so.
struct TMetricsSnapshot {
  std::string version;
  // The state store was read (a missing one, where no agent ever ran, reads as empty).
  bool stateStoreUp = false;
  bool databaseUp = false;
  // From the state store, when it was read.
  std::int64_t agentsRunning = 0, agentsNotResponding = 0, agentsStandby = 0;
  std::vector<TAgentPoll> agents;
  std::optional<state::TRunTotals> runs;
  // From the control table: today's requests by status, the pending ones of earlier
  // days, and the age of the oldest request waiting to start (0: none).
  struct TRequests {
    std::int64_t pending = 0, running = 0, ok = 0, nok = 0, cancelled = 0, expired = 0;
    double oldestPendingAgeSeconds = 0;
  };
  std::optional<TRequests> requests;
  std::optional<std::int64_t> errorLogEntriesToday;
  // Why a part could not be read, for `QarCfg.exe metrics` to tell (the page shows them itself).
  std::vector<std::string> problems;
};

// Where a scrape reads.
struct TMetricsSources {
  std::string connectionString;  // the store's database; empty: none is stored
  std::string installation;      // the installation's directory: its agents are counted
  std::string logDirectory;      // the diagnostics' error logs; empty: not counted
};

// One scrape: the agents and the counters from the state store, the requests' counts
// and the oldest pending request from the database (read-only), today's error-log
// entries. Never raises: what cannot be read is left out and told in `problems`.
TMetricsSnapshot CollectMetrics(const TMetricsSources& sources);

// The exposition of `snapshot`, HELP and TYPE lines for every family. Agents that
// share a pid and user (a stale row beside a live one) are shown once, with the
// latest poll, so that no store's state can make a scrape fail on a duplicate.
std::string FormatMetrics(const TMetricsSnapshot& snapshot);

}  // namespace qar::tools
