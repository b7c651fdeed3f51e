// The installation's metrics for Prometheus: what /metrics and `QarCfg.exe metrics` print.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qar::tools {

// One running agent and when it last polled.
struct TAgentPoll {
  std::uint32_t pid = 0;
  std::string user;  // UTF-8
  double lastPollUnixSeconds = 0;
};

// How the worker's runs ended, counted since the installation's state store exists.
enum class TRunOutcome { kOk, kFailed, kKilled, kCancelled, kLeftPending };
inline constexpr std::size_t kRunOutcomeCount = 5;
// The label values, in the enumeration's order.
inline constexpr std::array<const char*, kRunOutcomeCount> kRunOutcomeNames = {"ok", "failed", "killed", "cancelled",
                                                                               "left_pending"};
// Upper bounds in seconds of the run-duration histogram's buckets: runs of a second
// to an hour; longer ones fall into +Inf only.
inline constexpr std::array<double, 11> kRunDurationBounds = {1, 5, 15, 30, 60, 120, 300, 600, 1200, 1800, 3600};

struct TRunTotals {
  std::array<std::int64_t, kRunOutcomeCount> byOutcome{};
  // Runs whose duration fell into each bucket alone (not cumulative); the last one
  // holds the runs longer than every bound.
  std::array<std::int64_t, kRunDurationBounds.size() + 1> byDuration{};
  double durationSumSeconds = 0;
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
  std::optional<TRunTotals> runs;
  // From the control table: today's requests by status, the pending ones of earlier
  // days, and the age of the oldest request waiting to start (0: none).
  struct TRequests {
    std::int64_t pending = 0, running = 0, ok = 0, nok = 0, cancelled = 0, expired = 0;
    double oldestPendingAgeSeconds = 0;
  };
  std::optional<TRequests> requests;
  std::optional<std::int64_t> errorLogEntriesToday;
};

// The exposition of `snapshot`, HELP and TYPE lines for every family. Agents that
// share a pid and user (a stale row beside a live one) are shown once, with the
// latest poll, so that no store's state can make a scrape fail on a duplicate.
std::string FormatMetrics(const TMetricsSnapshot& snapshot);

}  // namespace qar::tools
