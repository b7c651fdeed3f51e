#include "tools/agent_status_report.h"

#include <algorithm>
#include <map>

#include "config/agent_status.h"
#include "config/state_store.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "platform/file_identity.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/command_error.h"

namespace qar::tools {

namespace {
std::int64_t Count(TADOConnection& connection, const std::string& where) {
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM WHERE IDSTCTRLEXECREM = 'P'" + where);
  query.Open();
  return query.FieldByName("N").Value().AsInt64();
}
}  // namespace

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

std::string Ago(double seconds) { return std::to_string(static_cast<long long>(seconds + 0.5)) + " s ago"; }

std::string Duration(double seconds) {
  const long long s = static_cast<long long>(seconds + 0.5);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() < 11 && text.find_first_not_of("0123456789") == std::string::npos;
}

// The requests whose worker an agent of the installation supervises now, or that a
// worker left running by an ended agent still works on.
std::vector<std::string> RunningRequests(const TStatusReport& status) {
  std::vector<std::string> ids;
  for (const TAgentView& agent : status.agents)
    if (agent.running && IsNumber(agent.record.request)) ids.push_back(agent.record.request);
  for (const TLeftWorker& worker : status.leftWorkers)
    if (IsNumber(worker.request)) ids.push_back(worker.request);
  return ids;
}

}  // namespace

std::string InstallationDirectory() { return platform::ExtractFileDir(platform::ExecutableFileName()); }

TStatusReport ReadInstallationStatus(const std::string& installationDir, platform::TDateTime now) {
  TStatusReport report;
  report.installation = installationDir;
  report.store = config::StateStorePath();
  try {
    config::TStateStore store = config::TStateStore::OpenForReading(report.store);
    std::vector<std::uint32_t> endedAgents;
    for (config::TAgentRecord& record : store.Agents(now)) {
      if (!SameDirectory(platform::ExtractFileDir(record.exe), installationDir)) continue;
      TAgentView view;
      view.running = config::AgentProcessRuns(record);
      view.responding = view.running && record.pollAgeSeconds <= config::kNotRespondingSeconds;
      view.record = std::move(record);
      report.agents.push_back(std::move(view));
    }
    // A run still open whose agent is gone: its worker may run on, unsupervised
    // until an agent starts again.
    for (const config::TRunRecord& run : store.RecentRuns(200, now)) {
      if (run.end != config::TRunEnd::kRunning || !SameDirectory(platform::ExtractFileDir(run.agentExe), installationDir))
        continue;
      bool supervised = false;
      for (const TAgentView& agent : report.agents)
        supervised = supervised || (agent.running && agent.record.pid == run.agentPid);
      if (supervised || run.workerPid == 0 || platform::ProcessInstance(run.workerPid).empty()) continue;
      report.leftWorkers.push_back({std::to_string(run.request), run.workerPid, run.started, run.agentPid, run.agentUser});
    }
  } catch (const config::EStateStore& error) {
    report.storeError = error.what();
    report.storeMissing = error.Missing();
  } catch (const std::exception& error) {
    report.storeError = error.what();
  }
  return report;
}

TQueueCounts CountQueue(TADOConnection& connection, const TStatusReport& status) {
  try {
    std::string running;
    for (const std::string& id : RunningRequests(status)) running += (running.empty() ? "" : ",") + id;
    const std::string notRunning = running.empty() ? "" : " AND IDCTRLEXECREM NOT IN (" + running + ")";
    TQueueCounts counts;
    const std::string today = " AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)";
    counts.pendingToday = Count(connection, today + notRunning);
    counts.expired = Count(connection, notRunning) - counts.pendingToday;
    counts.running = running.empty() ? 0 : Count(connection, " AND IDCTRLEXECREM IN (" + running + ")");
    return counts;
  } catch (const EDataError& error) {
    throw ECommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
}

std::vector<std::string> DescribeStatus(const TStatusReport& status) {
  std::vector<std::string> lines{"Installation: " + status.installation + " (state " + status.store + ")"};
  if (status.storeMissing) {
    lines.push_back("Agent:      none has run yet");
  } else if (!status.storeError.empty()) {
    lines.push_back("Agent:      not known: " + status.storeError);
  } else if (status.agents.empty()) {
    lines.push_back("Agent:      not running");
  }
  for (const TAgentView& view : status.agents) {
    const config::TAgentRecord& a = view.record;
    std::string line = "Agent:      pid " + std::to_string(a.pid) + ", user " + a.user + ", started " +
                       StateTime(a.started) + ", ";
    if (!view.running) {
      line += "not running (it ended without saying so; last poll " + StateTime(a.lastPoll) + ")";
    } else {
      line += "last poll " + Ago(a.pollAgeSeconds) + (view.responding ? "" : ": NOT RESPONDING");
    }
    lines.push_back(line);
    if (!view.running) continue;
    if (a.request.empty()) {
      lines.push_back("            supervises no request");
    } else if (a.request == config::kUnknownRequest) {
      lines.push_back("            supervises a worker an earlier agent left (request not known) since " +
                      StateTime(a.requestSince));
    } else {
      lines.push_back("            supervises request " + a.request + " since " + StateTime(a.requestSince) +
                      (a.workerPid ? ", worker pid " + std::to_string(a.workerPid) : std::string()));
    }
    if (!a.lastError.empty()) lines.push_back("            last error " + StateTime(a.lastErrorAt) + ": " + a.lastError);
  }
  for (const TLeftWorker& w : status.leftWorkers) {
    lines.push_back("Left:       the worker of request " + w.request + " (pid " + std::to_string(w.pid) +
                    ") runs since " + StateTime(w.since) + " without its agent (pid " + std::to_string(w.agentPid) +
                    ", user " + w.agentUser + "); the next agent of that user supervises it");
  }
  if (status.queue) {
    lines.push_back("Pending:    " + std::to_string(status.queue->pendingToday) + " today, " +
                    std::to_string(status.queue->expired) + " expired from earlier days (never run), " +
                    std::to_string(status.queue->running) + " running");
  } else {
    lines.push_back("Pending:    not known: " + status.queueError);
  }
  return lines;
}

int StatusExitCode(const TStatusReport& status) {
  if (status.AgentRuns()) return 0;
  if (!status.storeError.empty() && !status.storeMissing) return kExitStateUnreadable;
  return kExitNoAgent;
}

std::vector<TListedRequest> ListRequestsWithRuns(TADOConnection& connection, const TStatusReport& status,
                                                 std::optional<platform::TDateTime> since,
                                                 const std::string& onlyStatus) {
  const std::vector<std::string> running = RunningRequests(status);
  std::vector<config::TRequestSummary> summaries;
  if (status.storeError.empty()) {
    try {
      summaries = config::TStateStore::OpenForReading(status.store).Summaries(0, platform::Now());
    } catch (const std::exception&) {
      // The runs are left out; the requests are still listed.
    }
  }
  std::map<std::string, const config::TRequestSummary*> byId;
  for (const config::TRequestSummary& s : summaries) byId[std::to_string(s.request)] = &s;
  std::vector<TListedRequest> listed;
  for (TRequestRow& row : ListedRequests(connection, since)) {
    TListedRequest request;
    request.running = std::find(running.begin(), running.end(), row.id) != running.end() && row.status == "P";
    if (const auto found = byId.find(row.id); found != byId.end()) request.runs = *found->second;
    request.row = std::move(row);
    if (!onlyStatus.empty() &&
        !(onlyStatus == "running" ? request.running : platform::SameTextAscii(request.row.status, onlyStatus)))
      continue;
    listed.push_back(std::move(request));
  }
  return listed;
}

std::vector<std::string> FormatListedRequests(const std::vector<TListedRequest>& requests) {
  std::vector<TRequestRow> rows;
  for (const TListedRequest& r : requests) {
    TRequestRow row = r.row;
    if (r.running) row.status += " (running)";
    rows.push_back(std::move(row));
  }
  std::vector<std::string> lines = FormatRequestRows(rows);
  // The runs, after the row's own columns.
  std::size_t width = 0;
  for (const std::string& line : lines) width = std::max(width, line.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    lines[i].resize(width + 2, ' ');
    if (i == 0) {
      lines[i] += "RUNS  DURATION  LAST";
      continue;
    }
    const TListedRequest& r = requests[i - 1];
    std::string runs = r.runs ? std::to_string(r.runs->runs) : "0";
    std::string duration = r.runs ? Duration(r.runs->totalSeconds) : "-";
    runs.resize(std::max<std::size_t>(runs.size() + 2, 6), ' ');
    duration.resize(std::max<std::size_t>(duration.size() + 2, 10), ' ');
    lines[i] += runs + duration + (r.runs ? config::DescribeRunEnd(r.runs->last) : "-");
  }
  return lines;
}

std::string DescribeCancelOutcome(const TStatusReport& status, const std::string& id) {
  for (const TAgentView& agent : status.agents) {
    if (agent.running && agent.record.request == id)
      return "the agent (pid " + std::to_string(agent.record.pid) + ", user " + agent.record.user +
             ") stops its worker within 10 s and marks the row NOK";
  }
  for (const TLeftWorker& worker : status.leftWorkers) {
    if (worker.request == id)
      return "its worker (pid " + std::to_string(worker.pid) + ") runs without an agent: it is stopped when an "
             "agent of user " + worker.agentUser + " starts";
  }
  if (status.AgentRuns()) return "the agent will not start it";
  return "no agent runs: the request is not started, and a worker of it still running stops when an agent starts";
}

}  // namespace qar::tools
