#include "tools/agent_status_report.h"

#include <algorithm>
#include <array>

#include "state/agent_status.h"
#include "state/shown_text.h"
#include "tools/state_json.h"

namespace qar::tools {

using state::Quoted;
using state::TAgentView;
using state::TLeftWorker;
using state::TListedRequest;
using state::TRequestRow;
using state::TStatusReport;

namespace {

// Widest cell of `list`; a longer text (another program's operation or error) is cut.
constexpr std::size_t kMaxCellWidth = 60;

std::string Ago(std::optional<double> seconds) {
  return seconds ? std::to_string(static_cast<long long>(*seconds + 0.5)) + " s ago" : std::string("at a time not known");
}

std::string Duration(double seconds) {
  const long long s = static_cast<long long>(seconds + 0.5);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

// The rows as aligned columns under a heading; an expired request's status reads
// "P (expired)". Cells are printable and cut to a readable width.
std::vector<std::string> FormatRequestRows(const std::vector<TRequestRow>& rows) {
  using Cells = std::array<std::string, 5>;
  std::vector<Cells> table{{"ID", "STATUS", "DSOPERACAO", "DTINCLUSAO", "DSERRO"}};
  for (const TRequestRow& row : rows) {
    const auto cell = [](const std::string& text) { return Quoted(text, kMaxCellWidth); };
    table.push_back({cell(row.id), cell(row.status) + (row.expired ? " (expired)" : ""),
                     cell(row.operation), cell(row.inserted), cell(row.error)});
  }
  std::array<std::size_t, 5> widths{};
  for (const Cells& cells : table)
    for (std::size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], cells[i].size());

  std::vector<std::string> lines;
  for (const Cells& cells : table) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      if (i + 1 < cells.size()) line += std::string(widths[i] - cells[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

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
    const state::TAgentRecord& a = view.record;
    std::string line = "Agent:      pid " + std::to_string(a.pid) + ", user " + a.user + ", started " +
                       StateTime(a.started) + ", ";
    if (!view.running) {
      line += "not running (it ended without saying so" +
              (a.ended != 0 ? ", found gone " + StateTime(a.ended) : std::string()) + "; last poll " +
              StateTime(a.lastPoll) + ")";
    } else {
      line += (a.role == state::TAgentRole::kStandby ? "standing by" : "dispatching") + std::string(", last poll ") +
              Ago(a.pollAgeSeconds) + (view.responding ? "" : ": NOT RESPONDING");
    }
    lines.push_back(line);
    if (!view.running) continue;
    if (a.request.empty()) {
      lines.push_back("            supervises no request");
    } else if (a.request == state::kUnknownRequest) {
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
                    ", user " + w.agentUser + "); the next agent that dispatches supervises it");
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
    lines[i] += runs + duration + (r.runs ? state::DescribeRunEnd(r.runs->last) : "-");
  }
  return lines;
}

std::string DescribeCancelOutcome(const TStatusReport& status, const std::string& id) {
  for (const TAgentView& agent : status.agents) {
    if (!agent.running || agent.record.request != id) continue;
    const std::string who = "the agent (pid " + std::to_string(agent.record.pid) + ", user " + agent.record.user + ")";
    if (agent.workerStarter.empty() || agent.workerStarter == agent.record.user)
      return who + " stops its worker within 10 s and marks the row NOK";
    // An agent may not be allowed to stop another user's process.
    return who + " stops its worker (pid " + std::to_string(agent.record.workerPid) + ", started by an agent of user " +
           agent.workerStarter + ") within 10 s if it may; if not, the row stays C until the worker ends and is "
           "marked NOK then, unless the worker finished it: that user or an administrator can stop it";
  }
  for (const TLeftWorker& worker : status.leftWorkers) {
    if (worker.request == id)
      return "its worker (pid " + std::to_string(worker.pid) + ") runs without an agent: it is stopped when an "
             "agent of the installation starts";
  }
  if (status.AgentRuns()) return "the agent will not start it";
  return "no agent runs: the request is not started, and a worker of it still running stops when an agent starts";
}

}  // namespace qar::tools
