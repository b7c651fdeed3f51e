#include "tools/state_json.h"

#include <cmath>
#include <cstdio>

#include "platform/text.h"

namespace qar::tools {

using state::TAgentView;
using state::TLeftWorker;
using state::TListedRequest;
using state::TStatusReport;

namespace {

std::string Number(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return "null";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", *value);
  return buffer;
}

std::string Bool(bool value) { return value ? "true" : "false"; }

// A text that may be absent: empty is null.
std::string StringOrNull(std::string_view ansi) { return ansi.empty() ? "null" : JsonString(ansi); }
std::string TimeOrNull(platform::TUtcDateTime value) {
  const std::string shown = StateTime(value);
  return shown.empty() ? "null" : JsonString(shown);
}
std::string PidOrNull(std::uint32_t pid) { return pid == 0 ? "null" : std::to_string(pid); }

std::string AgentJson(const TAgentView& view) {
  const state::TAgentRecord& a = view.record;
  std::string out = "{\"pid\":" + std::to_string(a.pid) + ",\"user\":" + JsonString(a.user) +
                    ",\"exe\":" + JsonString(a.exe) + ",\"started\":" + TimeOrNull(a.started) +
                    ",\"lastPoll\":" + TimeOrNull(a.lastPoll) + ",\"pollAgeSeconds\":" + Number(a.pollAgeSeconds) +
                    ",\"running\":" + Bool(view.running) + ",\"responding\":" + Bool(view.responding) +
                    ",\"role\":" + JsonString(state::AgentRoleName(a.role)) + ",\"ended\":" + TimeOrNull(a.ended) +
                    ",\"lastError\":";
  out += a.lastError.empty() ? "null"
                             : "{\"text\":" + JsonString(a.lastError) + ",\"at\":" + TimeOrNull(a.lastErrorAt) + "}";
  out += ",\"request\":";
  out += a.request.empty() ? "null"
                           : "{\"id\":" + JsonString(a.request) + ",\"since\":" + TimeOrNull(a.requestSince) +
                                 ",\"workerPid\":" + PidOrNull(a.workerPid) + "}";
  return out + "}";
}

}  // namespace

std::string JsonString(std::string_view ansi) {
  const std::string utf8 = platform::AnsiToUtf8(ansi);
  std::string out = "\"";
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string StateTime(platform::TUtcDateTime value) {
  const platform::TDateTime local = value == 0 ? 0 : platform::UtcToLocal(value);
  return local == 0 ? std::string() : platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", local);
}

std::string RunJson(const state::TRunRecord& run) {
  const bool ended = run.end != state::TRunEnd::kRunning;
  const bool coded = run.end == state::TRunEnd::kExited || run.end == state::TRunEnd::kSignalled;
  return "{\"started\":" + TimeOrNull(run.started) + ",\"ended\":" + (ended ? TimeOrNull(run.ended) : "null") +
         ",\"outcome\":" + JsonString(state::RunEndName(run.end)) +
         ",\"code\":" + (coded ? std::to_string(run.code) : "null") +
         ",\"description\":" + JsonString(state::DescribeRunEnd(run)) +
         ",\"leftPending\":" + (run.leftPending ? Bool(*run.leftPending) : "null") +
         ",\"durationSeconds\":" + Number(run.durationSeconds) + ",\"output\":" + StringOrNull(run.output) +
         ",\"note\":" + StringOrNull(run.note) + ",\"agentPid\":" + std::to_string(run.agentPid) +
         ",\"agentUser\":" + JsonString(run.agentUser) + ",\"workerPid\":" + PidOrNull(run.workerPid) + "}";
}

std::string StatusJson(const TStatusReport& report) {
  std::string out = "{\"version\":1,\"installation\":" + JsonString(report.installation) +
                    ",\"store\":" + JsonString(report.store) + ",\"storeError\":" + StringOrNull(report.storeError) +
                    ",\"running\":" + Bool(report.AgentRuns()) + ",\"agents\":[";
  for (std::size_t i = 0; i < report.agents.size(); ++i) out += (i ? "," : "") + AgentJson(report.agents[i]);
  out += "],\"leftWorkers\":[";
  for (std::size_t i = 0; i < report.leftWorkers.size(); ++i) {
    const TLeftWorker& w = report.leftWorkers[i];
    out += std::string(i ? "," : "") + "{\"request\":" + JsonString(w.request) + ",\"pid\":" + PidOrNull(w.pid) +
           ",\"since\":" + TimeOrNull(w.since) + ",\"agentPid\":" + std::to_string(w.agentPid) +
           ",\"agentUser\":" + JsonString(w.agentUser) + "}";
  }
  out += "],\"queue\":";
  out += report.queue ? "{\"pendingToday\":" + std::to_string(report.queue->pendingToday) +
                            ",\"expired\":" + std::to_string(report.queue->expired) +
                            ",\"running\":" + std::to_string(report.queue->running) + "}"
                      : "null";
  return out + ",\"queueError\":" + StringOrNull(report.queueError) + "}";
}

std::string ListJson(const std::vector<TListedRequest>& requests) {
  std::string out = "{\"version\":1,\"requests\":[";
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const TListedRequest& r = requests[i];
    out += std::string(i ? "," : "") + "{\"id\":" + JsonString(r.row.id) + ",\"status\":" + JsonString(r.row.status) +
           ",\"running\":" + Bool(r.running) + ",\"expired\":" + Bool(r.row.expired) +
           ",\"operation\":" + JsonString(r.row.operation) + ",\"inserted\":" + JsonString(r.row.inserted) +
           ",\"error\":" + JsonString(r.row.error) + ",\"runs\":" + std::to_string(r.runs ? r.runs->runs : 0) +
           ",\"totalSeconds\":" + Number(r.runs ? r.runs->totalSeconds : 0) +
           ",\"lastRun\":" + (r.runs ? RunJson(r.runs->last) : "null") + "}";
  }
  return out + "]}";
}

}  // namespace qar::tools
