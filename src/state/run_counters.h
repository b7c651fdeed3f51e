// What a worker run's end adds to the installation's counters, and the totals they make: the metrics' runs.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "state/state_store.h"

namespace qar::state {

// How a run ended, as head office counts it; the first rule that fits wins:
//   cancelled     the operator cancelled it
//   killed        a signal ended it
//   failed        it exited with a status other than 0, or it could not be started
//   left_pending  it ended well (or how is not known) but its row was still "P"
//   ok            anything else
enum class TRunOutcome { kOk, kFailed, kKilled, kCancelled, kLeftPending };
inline constexpr std::size_t kRunOutcomeCount = 5;
// The metrics' label values, in the enumeration's order.
inline constexpr std::array<const char*, kRunOutcomeCount> kRunOutcomeNames = {"ok", "failed", "killed", "cancelled",
                                                                               "left_pending"};
// The agent's note on a run it stopped for the operator's cancellation.
inline constexpr std::string_view kCancelledNote = "cancelled by the operator";

// Upper bounds in seconds of the run-duration histogram's buckets: runs of a second
// to an hour; longer ones fall into +Inf only.
inline constexpr std::array<double, 11> kRunDurationBounds = {1, 5, 15, 30, 60, 120, 300, 600, 1200, 1800, 3600};

TRunOutcome RunOutcome(const TRunRecord& run);

// The wait before the agent starts a row again whose run ended without leaving "P",
// after its n-th such run: 2 s, doubling, at most 5 minutes.
std::chrono::milliseconds RetryWait(std::int64_t runs);

// What recording `run` adds to the counters (table COUNTERS): nothing while it runs;
// at its end one to its outcome, and, when its duration is known, one to its duration's
// bucket and its milliseconds to the sum. The agent passes them with the run's end:
//   publisher.Run(run, RunEndCounters(run));
TCounterDeltas RunEndCounters(const TRunRecord& run);

// The runs counted so far, from the store's counters.
struct TRunTotals {
  std::array<std::int64_t, kRunOutcomeCount> byOutcome{};
  // Runs whose duration fell into each bucket alone (not cumulative); the last one
  // holds the runs longer than every bound.
  std::array<std::int64_t, kRunDurationBounds.size() + 1> byDuration{};
  double durationSumSeconds = 0;
};
TRunTotals RunTotals(const std::map<std::string, std::int64_t>& counters);

}  // namespace qar::state
