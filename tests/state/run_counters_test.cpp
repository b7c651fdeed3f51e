// A run's end in the installation's counters: its outcome by the first rule that fits, its duration's bucket.
#include "state/run_counters.h"

#include <gtest/gtest.h>

namespace qar::state {
namespace {

TRunRecord Ended(TRunEnd end, int code, std::optional<bool> leftPending, double seconds, std::string note = {}) {
  TRunRecord run;
  run.started = 46000;
  run.ended = run.started + seconds / 86400.0;
  run.end = end;
  run.code = code;
  run.leftPending = leftPending;
  run.note = std::move(note);
  return run;
}

TEST(RunCountersTest, EachEndCountsOnceUnderItsOutcome) {
  const struct {
    TRunRecord run;
    TRunOutcome outcome;
  } cases[] = {
      {Ended(TRunEnd::kExited, 0, true, 1), TRunOutcome::kOk},
      {Ended(TRunEnd::kUnknown, 0, true, 1), TRunOutcome::kOk},  // a worker left by an earlier agent
      {Ended(TRunEnd::kExited, 0, false, 1), TRunOutcome::kLeftPending},
      {Ended(TRunEnd::kUnknown, 0, false, 1), TRunOutcome::kLeftPending},
      {Ended(TRunEnd::kExited, 3, false, 1), TRunOutcome::kFailed},
      {Ended(TRunEnd::kNotStarted, 0, std::nullopt, 0), TRunOutcome::kFailed},
      {Ended(TRunEnd::kSignalled, 9, false, 1), TRunOutcome::kKilled},
      {Ended(TRunEnd::kSignalled, 9, true, 1, std::string(kCancelledNote)), TRunOutcome::kCancelled},
  };
  std::map<std::string, std::int64_t> counters;
  for (const auto& c : cases) {
    EXPECT_EQ(RunOutcome(c.run), c.outcome) << DescribeRunEnd(c.run);
    for (const auto& [name, delta] : RunEndCounters(c.run)) counters[name] += delta;
  }
  EXPECT_TRUE(RunEndCounters(TRunRecord{}).empty());  // still running: nothing yet

  const TRunTotals totals = RunTotals(counters);
  EXPECT_EQ(totals.byOutcome, (std::array<std::int64_t, kRunOutcomeCount>{2, 2, 1, 1, 2}));
  EXPECT_EQ(totals.byDuration[0], 7);  // a not-started run has no duration
  EXPECT_NEAR(totals.durationSumSeconds, 7, 0.01);
}

TEST(RunCountersTest, DurationsFallIntoTheirBucketsAndAnEditedStoreReadsAsZero) {
  std::map<std::string, std::int64_t> counters;
  for (const double seconds : {1.0, 1.5, 60.0, 3600.0, 3600.5, 7200.0}) {
    for (const auto& [name, delta] : RunEndCounters(Ended(TRunEnd::kExited, 0, true, seconds))) counters[name] += delta;
  }
  counters["worker_runs.failed"] = -4;  // written by hand
  const TRunTotals totals = RunTotals(counters);
  EXPECT_EQ(totals.byDuration[0], 1);   // <= 1 s
  EXPECT_EQ(totals.byDuration[1], 1);   // <= 5 s
  EXPECT_EQ(totals.byDuration[4], 1);   // <= 60 s
  EXPECT_EQ(totals.byDuration[10], 1);  // <= 3600 s
  EXPECT_EQ(totals.byDuration[11], 2);  // longer than an hour
  EXPECT_EQ(totals.byOutcome[static_cast<int>(TRunOutcome::kFailed)], 0);
  EXPECT_NEAR(totals.durationSumSeconds, 14463, 0.01);
}

}  // namespace
}  // namespace qar::state
