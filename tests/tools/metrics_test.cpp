// The metrics' exposition: what a store's state may hold must never spoil a scrape.
#include "tools/metrics.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tools/metrics_text.h"

namespace qar::tools {
namespace {

bool Has(const std::string& text, const std::string& line) { return text.find("\n" + line + "\n") != std::string::npos; }

TEST(MetricsTest, LabelValuesAreEscapedAndMadeUtf8) {
  // A hostile or ANSI user name: quote, backslash, line feed, a Windows-1252 byte, a cut sequence.
  EXPECT_EQ(EscapeLabelValue("a\"b\\c\nd"), "a\\\"b\\\\c\\nd");
  EXPECT_EQ(EscapeLabelValue("Jo\xE3o"), "Jo\xEF\xBF\xBDo");
  EXPECT_EQ(EscapeLabelValue("\xC3"), "\xEF\xBF\xBD");
  EXPECT_EQ(EscapeLabelValue("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
  EXPECT_EQ(EscapeLabelValue("Jo\xC3\xA3o \xF0\x9F\x98\x80"), "Jo\xC3\xA3o \xF0\x9F\x98\x80");

  EXPECT_EQ(FormatSampleValue(3e9), "3000000000");
  EXPECT_EQ(FormatSampleValue(0.1), "0.1");
  EXPECT_EQ(FormatSampleValue(1783000000.25), "1783000000.25");
  EXPECT_EQ(FormatSampleValue(INFINITY), "+Inf");
  EXPECT_EQ(FormatSampleValue(NAN), "NaN");
}

TEST(MetricsTest, EachAgentOnceWithItsLatestPoll) {
  TMetricsSnapshot snapshot;
  snapshot.version = "1.2.3";
  snapshot.stateStoreUp = true;
  snapshot.agentsRunning = 2;
  // The same pid and user twice (a stale row beside the live one) would be a duplicate series.
  snapshot.agents = {{41, "ana", 1700000000}, {41, "ana", 1700000010}, {41, "bob\"", 1700000005}};
  const std::string text = "\n" + FormatMetrics(snapshot);

  EXPECT_TRUE(Has(text, "qarsnc_build_info{version=\"1.2.3\"} 1"));
  EXPECT_TRUE(Has(text, "qarsnc_agents{state=\"running\"} 2"));
  EXPECT_TRUE(Has(text, "qarsnc_agents{state=\"standby\"} 0"));
  EXPECT_TRUE(Has(text, "qarsnc_agent_last_poll_timestamp_seconds{pid=\"41\",user=\"ana\"} 1700000010"));
  EXPECT_TRUE(Has(text, "qarsnc_agent_last_poll_timestamp_seconds{pid=\"41\",user=\"bob\\\"\"} 1700000005"));
  EXPECT_EQ(text.find("1700000000"), std::string::npos);
  // What was not read is left out, not shown as zero.
  EXPECT_TRUE(Has(text, "qarsnc_database_up 0"));
  EXPECT_EQ(text.find("qarsnc_requests"), std::string::npos);
  EXPECT_EQ(text.find("qarsnc_worker_runs_total"), std::string::npos);

  snapshot.stateStoreUp = false;
  EXPECT_EQ(FormatMetrics(snapshot).find("qarsnc_agents"), std::string::npos);
}

TEST(MetricsTest, HistogramBucketsAreCumulativeAndCountIsTheInfBucket) {
  TMetricsSnapshot snapshot;
  snapshot.stateStoreUp = true;
  state::TRunTotals runs;
  runs.byOutcome = {7, 0, 0, 1, 2};
  runs.byDuration[0] = 2;      // <= 1 s
  runs.byDuration[4] = 3;      // <= 60 s
  runs.byDuration.back() = 1;  // over an hour
  runs.durationSumSeconds = 4000.5;
  snapshot.runs = runs;
  const std::string text = "\n" + FormatMetrics(snapshot);

  EXPECT_TRUE(Has(text, "# TYPE qarsnc_worker_runs_total counter"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_runs_total{outcome=\"failed\"} 0"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_runs_total{outcome=\"left_pending\"} 2"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_bucket{le=\"1\"} 2"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_bucket{le=\"30\"} 2"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_bucket{le=\"60\"} 5"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_bucket{le=\"3600\"} 5"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_bucket{le=\"+Inf\"} 6"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_count 6"));
  EXPECT_TRUE(Has(text, "qarsnc_worker_run_duration_seconds_sum 4000.5"));
}

}  // namespace
}  // namespace qar::tools
