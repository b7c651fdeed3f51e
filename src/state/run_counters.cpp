#include "state/run_counters.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace qar::state {

namespace {

// The names in COUNTERS: an interface between the agents and every reader, never renamed.
std::string OutcomeCounter(std::size_t outcome) { return std::string("worker_runs.") + kRunOutcomeNames[outcome]; }
std::string BucketCounter(std::size_t bucket) {
  return bucket < kRunDurationBounds.size()
             ? "worker_run_duration.le_" + std::to_string(static_cast<int>(kRunDurationBounds[bucket]))
             : std::string("worker_run_duration.le_inf");
}
constexpr const char* kDurationSumCounter = "worker_run_duration.sum_ms";

// Seconds from start to end: by the steady stamps where both were taken, else by UTC.
std::optional<double> RunDuration(const TRunRecord& run) {
  double seconds = 0;
  if (run.startSteady && run.endSteady) {
    seconds = *run.endSteady - *run.startSteady;
  } else if (run.started > 0 && run.ended > 0) {
    seconds = (run.ended - run.started) * 86400.0;
  } else {
    return std::nullopt;
  }
  if (!(seconds >= 0) || seconds > kLongestAgeSeconds) return std::nullopt;
  // To the millisecond: a day count holds no finer time, and a run of exactly a
  // bound's length must fall into that bound's bucket.
  return std::round(seconds * 1000) / 1000;
}

}  // namespace

TRunOutcome RunOutcome(const TRunRecord& run) {
  if (run.note == kCancelledNote) return TRunOutcome::kCancelled;
  if (run.end == TRunEnd::kSignalled) return TRunOutcome::kKilled;
  if (run.end == TRunEnd::kNotStarted || (run.end == TRunEnd::kExited && run.code != 0)) return TRunOutcome::kFailed;
  if (run.leftPending == false) return TRunOutcome::kLeftPending;
  return TRunOutcome::kOk;
}

TCounterDeltas RunEndCounters(const TRunRecord& run) {
  TCounterDeltas deltas;
  if (run.end == TRunEnd::kRunning) return deltas;
  deltas[OutcomeCounter(static_cast<std::size_t>(RunOutcome(run)))] = 1;
  if (const std::optional<double> seconds = RunDuration(run); seconds && run.end != TRunEnd::kNotStarted) {
    const auto bound = std::lower_bound(kRunDurationBounds.begin(), kRunDurationBounds.end(), *seconds);
    deltas[BucketCounter(static_cast<std::size_t>(bound - kRunDurationBounds.begin()))] = 1;
    deltas[kDurationSumCounter] = std::llround(*seconds * 1000);
  }
  return deltas;
}

TRunTotals RunTotals(const std::map<std::string, std::int64_t>& counters) {
  // A stored count below 0 (an edited store) reads as 0.
  const auto count = [&](const std::string& name) {
    const auto found = counters.find(name);
    return found == counters.end() ? 0 : std::max<std::int64_t>(found->second, 0);
  };
  TRunTotals totals;
  for (std::size_t i = 0; i < kRunOutcomeCount; ++i) totals.byOutcome[i] = count(OutcomeCounter(i));
  for (std::size_t i = 0; i < totals.byDuration.size(); ++i) totals.byDuration[i] = count(BucketCounter(i));
  totals.durationSumSeconds = static_cast<double>(count(kDurationSumCounter)) / 1000;
  return totals;
}

std::chrono::milliseconds RetryWait(std::int64_t runs) {
  constexpr std::chrono::milliseconds kFirst{2000}, kLongest{5 * 60 * 1000};
  std::chrono::milliseconds wait = kFirst;
  for (std::int64_t i = 1; i < runs && wait < kLongest; ++i) wait *= 2;
  return std::min(wait, kLongest);
}

}  // namespace qar::state
