#include "tools/state_json.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "diagnostics/mask_password.h"
#include "platform/text.h"

namespace qar::tools {

using state::TAgentView;
using state::TLeftWorker;
using state::TListedRequest;
using state::TStatusReport;

namespace {

// Fields keep the order the forms document.
using TJson = nlohmann::ordered_json;

// Seconds to the millisecond, as the forms always gave them.
TJson Number(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return nullptr;
  return std::round(*value * 1000.0) / 1000.0;
}

TJson Text(std::string_view ansi) { return platform::AnsiToUtf8(ansi); }
// A free text another program wrote (an error, a note, an operation): passwords in it are masked.
TJson FreeText(std::string_view ansi) { return Text(diagnostics::MaskPassword(ansi)); }
// A text that may be absent: empty is null.
TJson TextOrNull(std::string_view ansi) { return ansi.empty() ? TJson() : Text(ansi); }
TJson TimeOrNull(platform::TUtcDateTime value) { return TextOrNull(StateTime(value)); }
TJson PidOrNull(std::uint32_t pid) { return pid == 0 ? TJson() : TJson(pid); }

TJson AgentJson(const TAgentView& view) {
  const state::TAgentRecord& a = view.record;
  TJson out = {{"pid", a.pid},
               {"user", Text(a.user)},
               {"exe", Text(a.exe)},
               {"started", TimeOrNull(a.started)},
               {"lastPoll", TimeOrNull(a.lastPoll)},
               {"pollAgeSeconds", Number(a.pollAgeSeconds)},
               {"running", view.running},
               {"responding", view.responding},
               {"role", state::AgentRoleName(a.role)},
               {"ended", TimeOrNull(a.ended)},
               {"lastError", nullptr},
               {"request", nullptr}};
  if (!a.lastError.empty()) out["lastError"] = {{"text", FreeText(a.lastError)}, {"at", TimeOrNull(a.lastErrorAt)}};
  if (!a.request.empty()) {
    out["request"] = {
        {"id", Text(a.request)}, {"since", TimeOrNull(a.requestSince)}, {"workerPid", PidOrNull(a.workerPid)}};
  }
  return out;
}

TJson RunObject(const state::TRunRecord& run) {
  const bool ended = run.end != state::TRunEnd::kRunning;
  const bool coded = run.end == state::TRunEnd::kExited || run.end == state::TRunEnd::kSignalled;
  return {{"started", TimeOrNull(run.started)},
          {"ended", ended ? TimeOrNull(run.ended) : TJson()},
          {"outcome", state::RunEndName(run.end)},
          {"code", coded ? TJson(run.code) : TJson()},
          {"description", Text(state::DescribeRunEnd(run))},
          {"leftPending", run.leftPending ? TJson(*run.leftPending) : TJson()},
          {"durationSeconds", Number(run.durationSeconds)},
          {"output", TextOrNull(run.output)},
          {"note", run.note.empty() ? TJson() : FreeText(run.note)},
          {"agentPid", run.agentPid},
          {"agentUser", Text(run.agentUser)},
          {"workerPid", PidOrNull(run.workerPid)}};
}

std::string Dump(const TJson& json) { return json.dump(-1, ' ', false, TJson::error_handler_t::replace); }

}  // namespace

std::string JsonString(std::string_view ansi) { return Dump(Text(ansi)); }

std::string StateTime(platform::TUtcDateTime value) {
  const platform::TDateTime local = value == 0 ? 0 : platform::UtcToLocal(value);
  return local == 0 ? std::string() : platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", local);
}

std::string RunJson(const state::TRunRecord& run) { return Dump(RunObject(run)); }

std::string StatusJson(const TStatusReport& report) {
  TJson agents = TJson::array(), left = TJson::array();
  for (const TAgentView& agent : report.agents) agents.push_back(AgentJson(agent));
  for (const TLeftWorker& w : report.leftWorkers) {
    left.push_back({{"request", Text(w.request)},
                    {"pid", PidOrNull(w.pid)},
                    {"since", TimeOrNull(w.since)},
                    {"agentPid", w.agentPid},
                    {"agentUser", Text(w.agentUser)}});
  }
  TJson queue;
  if (report.queue) {
    queue = {{"pendingToday", report.queue->pendingToday},
             {"expired", report.queue->expired},
             {"running", report.queue->running}};
  }
  return Dump({{"version", 1},
               {"installation", Text(report.installation)},
               {"store", Text(report.store)},
               {"storeError", report.storeError.empty() ? TJson() : FreeText(report.storeError)},
               {"running", report.AgentRuns()},
               {"agents", std::move(agents)},
               {"leftWorkers", std::move(left)},
               {"queue", std::move(queue)},
               {"queueError", report.queueError.empty() ? TJson() : FreeText(report.queueError)}});
}

std::string ListJson(const std::vector<TListedRequest>& requests) {
  TJson list = TJson::array();
  for (const TListedRequest& r : requests) {
    list.push_back({{"id", Text(r.row.id)},
                    {"status", Text(r.row.status)},
                    {"running", r.running},
                    {"expired", r.row.expired},
                    {"operation", FreeText(r.row.operation)},
                    {"inserted", Text(r.row.inserted)},
                    {"error", FreeText(r.row.error)},
                    {"runs", r.runs ? r.runs->runs : 0},
                    {"totalSeconds", Number(r.runs ? r.runs->totalSeconds : 0)},
                    {"lastRun", r.runs ? RunObject(r.runs->last) : TJson()}});
  }
  return Dump({{"version", 1}, {"requests", std::move(list)}});
}

}  // namespace qar::tools
