#include "tools/metrics.h"

#include <algorithm>
#include <map>
#include <utility>

#include "tools/metrics_text.h"

namespace qar::tools {

namespace {

constexpr double Flag(bool value) { return value ? 1 : 0; }

void WriteAgents(TMetricsText& text, const TMetricsSnapshot& snapshot) {
  text.Family("qarsnc_agents", "gauge",
              "The installation's agents whose process runs, by state: running (polls and dispatches), "
              "not_responding (no poll for 30 s), standby (polls, waits to take over dispatching).");
  text.Sample("qarsnc_agents", {{"state", "running"}}, static_cast<double>(snapshot.agentsRunning));
  text.Sample("qarsnc_agents", {{"state", "not_responding"}}, static_cast<double>(snapshot.agentsNotResponding));
  text.Sample("qarsnc_agents", {{"state", "standby"}}, static_cast<double>(snapshot.agentsStandby));

  std::map<std::pair<std::uint32_t, std::string>, double> latest;
  for (const TAgentPoll& agent : snapshot.agents) {
    double& poll = latest[{agent.pid, agent.user}];
    poll = std::max(poll, agent.lastPollUnixSeconds);
  }
  text.Family("qarsnc_agent_last_poll_timestamp_seconds", "gauge",
              "When each running agent last polled the control table, in seconds since 1970 (UTC).");
  for (const auto& [who, poll] : latest) {
    const std::string pid = std::to_string(who.first);
    text.Sample("qarsnc_agent_last_poll_timestamp_seconds", {{"pid", pid}, {"user", who.second}}, poll);
  }
}

void WriteRequests(TMetricsText& text, const TMetricsSnapshot::TRequests& requests) {
  text.Family("qarsnc_requests", "gauge",
              "Today's requests in CTRLEXECREM by status: pending (waiting to start), running (its worker runs), "
              "ok (left P with a status other than NOK or C), nok, cancelled (asked for, or ended for it).");
  text.Sample("qarsnc_requests", {{"status", "pending"}}, static_cast<double>(requests.pending));
  text.Sample("qarsnc_requests", {{"status", "running"}}, static_cast<double>(requests.running));
  text.Sample("qarsnc_requests", {{"status", "ok"}}, static_cast<double>(requests.ok));
  text.Sample("qarsnc_requests", {{"status", "nok"}}, static_cast<double>(requests.nok));
  text.Sample("qarsnc_requests", {{"status", "cancelled"}}, static_cast<double>(requests.cancelled));
  text.Family("qarsnc_requests_expired", "gauge",
              "Pending requests inserted on an earlier day, which no agent starts any more.");
  text.Sample("qarsnc_requests_expired", static_cast<double>(requests.expired));
  text.Family("qarsnc_oldest_pending_request_age_seconds", "gauge",
              "How long today's oldest request waiting to start has waited, in seconds; 0 when none waits.");
  text.Sample("qarsnc_oldest_pending_request_age_seconds", requests.oldestPendingAgeSeconds);
}

void WriteRuns(TMetricsText& text, const TRunTotals& runs) {
  text.Family("qarsnc_worker_runs_total", "counter",
              "Worker runs that ended, by outcome: cancelled (by the operator), killed (by a signal), "
              "failed (a non-zero exit, or it did not start), left_pending (ended leaving its row P), ok.");
  for (std::size_t i = 0; i < kRunOutcomeCount; ++i) {
    text.Sample("qarsnc_worker_runs_total", {{"outcome", kRunOutcomeNames[i]}},
                static_cast<double>(std::max<std::int64_t>(runs.byOutcome[i], 0)));
  }
  text.Family("qarsnc_worker_run_duration_seconds", "histogram", "How long the worker's runs took, in seconds.");
  // Cumulative, and _count the +Inf bucket, whatever the stored counts are.
  double cumulative = 0;
  for (std::size_t i = 0; i < runs.byDuration.size(); ++i) {
    cumulative += static_cast<double>(std::max<std::int64_t>(runs.byDuration[i], 0));
    const std::string le = i < kRunDurationBounds.size() ? FormatSampleValue(kRunDurationBounds[i]) : "+Inf";
    text.Sample("qarsnc_worker_run_duration_seconds_bucket", {{"le", le}}, cumulative);
  }
  text.Sample("qarsnc_worker_run_duration_seconds_sum", std::max(runs.durationSumSeconds, 0.0));
  text.Sample("qarsnc_worker_run_duration_seconds_count", cumulative);
}

}  // namespace

std::string FormatMetrics(const TMetricsSnapshot& snapshot) {
  TMetricsText text;
  text.Family("qarsnc_build_info", "gauge", "The QarSnc version that serves these metrics; always 1.");
  text.Sample("qarsnc_build_info", {{"version", snapshot.version}}, 1);
  text.Family("qarsnc_state_store_up", "gauge", "1 when the installation's state store could be read, else 0.");
  text.Sample("qarsnc_state_store_up", Flag(snapshot.stateStoreUp));
  text.Family("qarsnc_database_up", "gauge", "1 when the store's database (CTRLEXECREM) could be read, else 0.");
  text.Sample("qarsnc_database_up", Flag(snapshot.databaseUp));
  if (snapshot.stateStoreUp) WriteAgents(text, snapshot);
  if (snapshot.requests) WriteRequests(text, *snapshot.requests);
  if (snapshot.runs) WriteRuns(text, *snapshot.runs);
  if (snapshot.errorLogEntriesToday) {
    text.Family("qarsnc_error_log_entries_today", "gauge",
                "Entries in today's error logs of the diagnostics (the last 4 MiB of each file).");
    text.Sample("qarsnc_error_log_entries_today", static_cast<double>(*snapshot.errorLogEntriesToday));
  }
  return std::move(text).Take();
}

}  // namespace qar::tools
