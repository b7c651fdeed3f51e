#include "state/status_report.h"

#include <algorithm>
#include <map>

#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "platform/file_identity.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
#include "state/agent_status.h"
#include "state/command_error.h"
#include "state/control_requests.h"
#include "state/control_table.h"

namespace qar::state {

namespace {

std::string WithoutTrailingDelimiter(std::string dir) {
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\') && dir[dir.size() - 2] != ':') dir.pop_back();
  return dir;
}

// The same directory however it is written (case, a trailing delimiter, a link).
bool SameDirectory(const std::string& a, const std::string& b) {
  const std::string left = WithoutTrailingDelimiter(a), right = WithoutTrailingDelimiter(b);
  if (left == right) return true;
  const auto identity = platform::FileIdentity(left);
  return identity && identity == platform::FileIdentity(right);
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() < 11 && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool TStatusReport::AgentRuns() const {
  for (const TAgentView& agent : agents)
    if (agent.running) return true;
  return false;
}

std::vector<std::string> RunningRequests(const TStatusReport& status) {
  std::vector<std::string> ids;
  for (const TAgentView& agent : status.agents)
    if (agent.running && IsNumber(agent.record.request)) ids.push_back(agent.record.request);
  for (const TLeftWorker& worker : status.leftWorkers)
    if (IsNumber(worker.request)) ids.push_back(worker.request);
  return ids;
}

std::string InstallationDirectory() { return platform::ExtractFileDir(platform::ExecutableFileName()); }

TStatusReport ReadInstallationStatus(const std::string& installationDir, const TMoment& now,
                                     std::optional<TStateStore>* opened) {
  TStatusReport report;
  report.installation = installationDir;
  report.store = StateStorePath();
  try {
    TStateStore store = TStateStore::OpenForReading(report.store);
    std::vector<std::uint32_t> endedAgents;
    for (TAgentRecord& record : store.Agents(now)) {
      if (!SameDirectory(platform::ExtractFileDir(record.exe), installationDir)) continue;
      TAgentView view;
      view.running = AgentProcessRuns(record);
      view.responding = view.running && record.pollAgeSeconds && *record.pollAgeSeconds <= kNotRespondingSeconds;
      view.record = std::move(record);
      report.agents.push_back(std::move(view));
    }
    // A run still open whose agent is gone: its worker may run on, unsupervised
    // until an agent of the installation adopts it. One that an agent supervises
    // now (its own, or adopted: that agent publishes its request and worker) is not left.
    for (const TRunRecord& run : store.RunningRuns(200, now)) {
      if (!SameDirectory(platform::ExtractFileDir(run.agentExe), installationDir)) continue;
      bool supervised = false;
      for (TAgentView& agent : report.agents) {
        const bool adopted = agent.record.request == std::to_string(run.request) && agent.record.workerPid == run.workerPid;
        if (adopted) agent.workerStarter = run.agentUser;
        supervised = supervised || (agent.running && (agent.record.pid == run.agentPid || adopted));
      }
      if (supervised || run.workerPid == 0 || RunAgentRuns(run) || !RunWorkerRuns(run)) continue;
      report.leftWorkers.push_back({std::to_string(run.request), run.workerPid, run.started, run.agentPid, run.agentUser});
    }
    if (opened) opened->emplace(std::move(store));
  } catch (const EStateStore& error) {
    report.storeError = error.what();
    report.storeMissing = error.Missing();
  } catch (const std::exception& error) {
    report.storeError = error.what();
  }
  return report;
}

namespace {

// One whole number a query gives in its column N.
std::int64_t CountOf(TADOQuery& query) {
  query.Open();
  return query.FieldByName("N").Value().AsInt64();
}

}  // namespace

TQueueCounts CountQueue(TADOConnection& connection, const std::vector<std::string>& runningIds) {
  TQueueCounts counts;
  try {
    const TInsertedToday today = InsertedToday(connection);
    // Each status on its own, found one after the other by the status index: its rows of
    // the day are then a range of IXCTRLEXECREM_STATUS_DIA (SQLite), counted without
    // reading a row, where one grouped query would read every row of the day.
    std::vector<std::pair<std::optional<std::string>, std::int64_t>> todays;  // none: NULL
    TADOQuery first, next, count;
    for (TADOQuery* query : {&first, &next, &count}) query->SetConnection(&connection);
    first.SQL().Add("SELECT MIN(IDSTCTRLEXECREM) AS STATUS FROM CTRLEXECREM");
    next.SQL().Add("SELECT MIN(IDSTCTRLEXECREM) AS STATUS FROM CTRLEXECREM WHERE IDSTCTRLEXECREM > :AFTER");
    count.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM WHERE IDSTCTRLEXECREM = :STATUS AND " + today.counted);
    first.Open();
    for (TADOQuery* found = &first; !found->FieldByName("STATUS").IsNull(); found = &next) {
      const std::string status = found->FieldByName("STATUS").AsString();
      count.Close();
      count.Parameters().ParamByName("STATUS").SetValue(status);
      todays.emplace_back(status, CountOf(count));
      next.Close();
      next.Parameters().ParamByName("AFTER").SetValue(status);
      next.Open();
    }
    TADOQuery unset;
    unset.SetConnection(&connection);
    unset.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM WHERE IDSTCTRLEXECREM IS NULL AND " + today.counted);
    todays.emplace_back(std::nullopt, CountOf(unset));

    // The rows of the day the agent ended for a cancellation, by status: the condition as
    // IXCTRLEXECREM_CANCELADO (SQLite) holds it, so that the index, which holds only
    // those rows, is taken.
    std::map<std::optional<std::string>, std::int64_t> cancelledIn;
    TADOQuery cancelled;
    cancelled.SetConnection(&connection);
    cancelled.SQL().Add("SELECT IDSTCTRLEXECREM, COUNT(*) AS N FROM CTRLEXECREM");
    cancelled.SQL().Add(std::string(" WHERE ") + kCancelledByOperatorCondition.data() + " AND " + today.counted);
    cancelled.SQL().Add(" GROUP BY IDSTCTRLEXECREM");
    cancelled.Open();
    for (cancelled.First(); !cancelled.Eof(); cancelled.Next()) {
      const TField& status = cancelled.FieldByName("IDSTCTRLEXECREM");
      cancelledIn[status.IsNull() ? std::nullopt : std::optional(status.AsString())] +=
          cancelled.FieldByName("N").Value().AsInt64();
    }

    // Counted one query after the other: a row that changed in between takes no count below zero.
    const auto less = [](std::int64_t n, std::int64_t taken) { return std::max<std::int64_t>(0, n - taken); };
    for (const auto& [status, n] : todays) {
      if (status == kStatusPending) {
        // Every pending row is counted, also an expired one; the others only of today.
        TADOQuery all;
        all.SetConnection(&connection);
        all.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM WHERE IDSTCTRLEXECREM = :STATUS");
        all.Parameters().ParamByName("STATUS").SetValue(*status);
        counts.pendingToday += n;
        counts.expired += less(CountOf(all), n);
      } else if (status == kStatusCancelRequested) {
        counts.cancelled += n;
      } else {
        const auto found = cancelledIn.find(status);
        const std::int64_t ended = found == cancelledIn.end() ? 0 : found->second;
        counts.cancelled += ended;
        (status == kStatusNotOk ? counts.failed : counts.done) += less(n, ended);
      }
    }

    // The pending ones whose worker runs move from pending (or expired) to running.
    std::string ids;
    for (const std::string& id : runningIds)
      if (IsNumber(id)) ids += (ids.empty() ? "" : ",") + id;
    if (ids.empty()) return counts;
    TADOQuery running;
    running.SetConnection(&connection);
    running.SQL().Add("SELECT CASE WHEN " + today.rows + " THEN 1 ELSE 0 END AS HOJE FROM CTRLEXECREM");
    running.SQL().Add(std::string(" WHERE IDSTCTRLEXECREM = '") + kStatusPending + "' AND IDCTRLEXECREM IN (" + ids + ")");
    running.Open();
    for (running.First(); !running.Eof(); running.Next()) {
      std::int64_t& from = running.FieldByName("HOJE").AsString() == "1" ? counts.pendingToday : counts.expired;
      if (from == 0) continue;  // the row changed between the queries
      --from;
      ++counts.running;
    }
  } catch (const EDataError& error) {
    throw ECommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
  return counts;
}

std::vector<TListedRequest> ListRequestsWithRuns(TADOConnection& connection, const TStatusReport& status,
                                                 std::optional<platform::TDateTime> since,
                                                 const std::string& onlyStatus) {
  const std::vector<std::string> running = RunningRequests(status);
  std::vector<TRequestSummary> summaries;
  if (status.storeError.empty()) {
    try {
      summaries = TStateStore::OpenForReading(status.store).Summaries(0, TMoment::Now());
    } catch (const std::exception&) {
      // The runs are left out; the requests are still listed.
    }
  }
  std::map<std::string, const TRequestSummary*> byId;
  for (const TRequestSummary& s : summaries) byId[std::to_string(s.request)] = &s;
  std::vector<TListedRequest> listed;
  for (TRequestRow& row : ListedRequests(connection, since)) {
    TListedRequest request;
    request.running = std::find(running.begin(), running.end(), row.id) != running.end() && row.status == "P";
    if (const auto found = byId.find(row.id); found != byId.end()) {
      request.runs = *found->second;
      // Still "running" in the store, but neither its agent nor its worker runs: no
      // agent has found it ended yet, and a reader may not write.
      TRunRecord& last = request.runs->last;
      if (last.end == TRunEnd::kRunning && !RunAgentRuns(last) && !RunWorkerRuns(last)) {
        last.end = TRunEnd::kUnknown;
        last.note = kRunEndedUnwatched;
        last.durationSeconds.reset();
      }
    }
    request.row = std::move(row);
    if (!onlyStatus.empty() &&
        !(onlyStatus == "running" ? request.running : platform::SameTextAscii(request.row.status, onlyStatus)))
      continue;
    listed.push_back(std::move(request));
  }
  return listed;
}

}  // namespace qar::state
