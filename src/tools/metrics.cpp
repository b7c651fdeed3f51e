#include "tools/metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>

#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "platform/datetime.h"
#include "platform/text.h"
#include "state/control_table.h"
#include "state/status_report.h"
#include "tools/metrics_text.h"
#include "tools/status_data.h"

namespace qar::tools {

namespace {

constexpr const char* kVersion = QAR_VERSION;  // the project's version, set by the build

constexpr double Flag(bool value) { return value ? 1 : 0; }

// Days since 1899-12-30 of a "yyyy-mm-dd hh:nn:ss" text (style 120); none for another text.
std::optional<double> DayNumber(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  if (text.size() < 19 || std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) < 6 ||
      mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) {
    return std::nullopt;
  }
  // Days from civil (proleptic Gregorian), shifted to the 1899-12-30 epoch.
  y -= mo <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const double days = era * 146097.0 + dayOfEra - 719468 + 25569;
  return days + (h * 3600 + mi * 60 + s) / 86400.0;
}

// Seconds that today's oldest request waiting to start has waited, by the database
// server's clock (its insertion time is of that clock); 0 when none waits.
double OldestPendingAge(TADOConnection& connection, const std::vector<std::string>& runningIds) {
  std::string running;
  for (const std::string& id : runningIds)
    if (!id.empty() && id.size() < 11 && id.find_first_not_of("0123456789") == std::string::npos)
      running += (running.empty() ? "" : ",") + id;
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT CONVERT(VARCHAR,MIN(DTINCLUSAO),120) AS OLDEST, CONVERT(VARCHAR,GETDATE(),120) AS AGORA");
  query.SQL().Add("  FROM CTRLEXECREM");
  query.SQL().Add(std::string(" WHERE IDSTCTRLEXECREM = '") + state::kStatusPending + "'");
  query.SQL().Add(state::kAndInsertedTodayLine.data());
  if (!running.empty()) query.SQL().Add("   AND IDCTRLEXECREM NOT IN (" + running + ")");
  query.Open();
  const std::optional<double> oldest = DayNumber(query.FieldByName("OLDEST").AsString());
  const std::optional<double> now = DayNumber(query.FieldByName("AGORA").AsString());
  if (!oldest || !now) return 0;
  return std::max(0.0, std::round((*now - *oldest) * 86400.0));
}

// Entries in today's error logs, as the page's logs view reads them, but all of them:
// a count that stopped at one page's entries would read as a quiet store.
std::int64_t ErrorLogEntriesToday(const std::string& logDirectory) {
  std::int64_t count = 0;
  const std::string today = platform::FormatDateTime("yyyymmdd", platform::Now());
  for (const TLogEntry& entry : ReadTodaysLogEntries(logDirectory, "", today, SIZE_MAX))
    count += entry.time.empty() ? 0 : 1;  // not the notes on a file that cannot be read
  return count;
}

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

void WriteRuns(TMetricsText& text, const state::TRunTotals& runs) {
  text.Family("qarsnc_worker_runs_total", "counter",
              "Worker runs that ended, by outcome: cancelled (by the operator), killed (by a signal), "
              "failed (a non-zero exit, or it did not start), left_pending (ended leaving its row P), ok.");
  for (std::size_t i = 0; i < state::kRunOutcomeCount; ++i) {
    text.Sample("qarsnc_worker_runs_total", {{"outcome", state::kRunOutcomeNames[i]}},
                static_cast<double>(runs.byOutcome[i]));
  }
  text.Family("qarsnc_worker_run_duration_seconds", "histogram", "How long the worker's runs took, in seconds.");
  // Cumulative, and _count the +Inf bucket, whatever the stored counts are.
  double cumulative = 0;
  for (std::size_t i = 0; i < runs.byDuration.size(); ++i) {
    cumulative += static_cast<double>(runs.byDuration[i]);
    const std::string le = i < state::kRunDurationBounds.size() ? FormatSampleValue(state::kRunDurationBounds[i]) : "+Inf";
    text.Sample("qarsnc_worker_run_duration_seconds_bucket", {{"le", le}}, cumulative);
  }
  text.Sample("qarsnc_worker_run_duration_seconds_sum", std::max(runs.durationSumSeconds, 0.0));
  text.Sample("qarsnc_worker_run_duration_seconds_count", cumulative);
}

}  // namespace

TMetricsSnapshot CollectMetrics(const TMetricsSources& sources) {
  TMetricsSnapshot snapshot;
  snapshot.version = kVersion;
  const state::TStatusReport status = state::ReadInstallationStatus(sources.installation, state::TMoment::Now());
  snapshot.stateStoreUp = status.storeError.empty() || status.storeMissing;
  if (snapshot.stateStoreUp && !status.storeMissing) {
    try {
      snapshot.runs = state::RunTotals(state::TStateStore::OpenForReading(status.store).Counters());
    } catch (const std::exception& error) {
      snapshot.stateStoreUp = false;
      snapshot.problems.push_back(error.what());
    }
  } else if (status.storeMissing) {
    snapshot.runs = state::TRunTotals{};  // no agent ever ran here: nothing counted yet
  } else {
    snapshot.problems.push_back(status.storeError);
  }
  for (const state::TAgentView& agent : status.agents) {
    if (!agent.running) continue;
    if (!agent.responding) {
      ++snapshot.agentsNotResponding;
    } else if (agent.record.role == state::TAgentRole::kStandby) {
      ++snapshot.agentsStandby;
    } else {
      ++snapshot.agentsRunning;
    }
    if (agent.record.lastPoll > 0) {
      snapshot.agents.push_back({agent.record.pid, platform::AnsiToUtf8(agent.record.user),
                                 (agent.record.lastPoll - 25569.0) * 86400.0});
    }
  }

  if (sources.connectionString.empty()) {
    snapshot.problems.push_back("no connection string is stored");
  } else {
    try {
      TADOConnection connection;
      OpenReadOnly(connection, sources.connectionString);
      const std::vector<std::string> running = state::RunningRequests(status);
      const state::TQueueCounts queue = state::CountQueue(connection, running);
      snapshot.requests = TMetricsSnapshot::TRequests{queue.pendingToday, queue.running,   queue.done,
                                                      queue.failed,       queue.cancelled, queue.expired,
                                                      OldestPendingAge(connection, running)};
      snapshot.databaseUp = true;
    } catch (const std::exception& error) {
      snapshot.problems.push_back(std::string("the database cannot be read: ") + error.what());
    }
  }

  if (!sources.logDirectory.empty()) snapshot.errorLogEntriesToday = ErrorLogEntriesToday(sources.logDirectory);
  return snapshot;
}

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
                "Entries in today's error logs of the diagnostics (the last 256 KiB of each of at most 32 of today's files).");
    text.Sample("qarsnc_error_log_entries_today", static_cast<double>(*snapshot.errorLogEntriesToday));
  }
  return std::move(text).Take();
}

}  // namespace qar::tools
