#include "tools/status_pages.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"
#include "state/operation_value.h"
#include "state/run_counters.h"

namespace qar::tools {

using state::TAgentView;
using state::TLeftWorker;
using state::TListedRequest;
using state::TRequestRow;
using state::TStatusReport;

namespace {

std::string H(std::string_view ansi) { return EscapeHtml(ansi); }

std::string Page(std::string_view title, std::string_view current, const TPageFrame& frame, const std::string& body) {
  std::string html;
  html.reserve(body.size() + 1024);
  html += "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
          "<title>QarSnc: ";
  html += H(title);
  html += "</title><link rel=\"stylesheet\" href=\"/static/status.css\">"
          "<script src=\"/static/status.js\" defer></script></head>\n<body><header><nav aria-label=\"Sections\">";
  for (const auto& [href, label] : {std::pair{"/", "Overview"}, std::pair{"/requests", "Requests"},
                                    std::pair{"/logs", "Logs"}, std::pair{"/settings", "Settings"}}) {
    html += std::string("<a href=\"") + href + "\"" + (label == current ? " aria-current=\"page\"" : "") + ">" +
            label + "</a>";
  }
  html += "</nav></header>\n<main><h1>";
  html += H(title);
  html += "</h1>\n";
  if (!frame.notice.empty()) html += "<p class=\"notice\" role=\"status\">" + H(frame.notice) + "</p>\n";
  html += body;
  if (frame.now != 0) {
    html += "<p class=\"refreshed\" data-live id=\"refreshed\">Shown as of <time>" +
            platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", frame.now) + "</time></p>\n";
  }
  html += "</main></body></html>\n";
  return html;
}

std::string Cell(std::string_view ansi) { return "<td>" + H(ansi) + "</td>"; }

std::string Seconds(std::optional<double> seconds) {
  return seconds ? std::to_string(static_cast<std::int64_t>(*seconds + 0.5)) + " s" : std::string("not known");
}

// What the status means, for titles: "pending (P)", "done (OK)".
std::string StatusMeaning(const TRequestRow& row, bool running) {
  const std::string& s = row.status;
  const std::string meaning = s == "P" ? (running ? "running" : row.expired ? "expired pending" : "pending")
                              : s == "C" ? "cancelled" : s == "OK" ? "done" : s == "NOK" ? "failed" : "status";
  return meaning + " (" + (s.empty() ? std::string("no status") : s) + ")";
}

std::string StatusText(const TRequestRow& row, const std::string& runningId) {
  if (!runningId.empty() && row.id == runningId && row.status == "P") return "P (running)";
  return row.expired ? row.status + " (expired)" : row.status;
}

std::string Count(const char* label, std::int64_t n, const char* href) {
  return std::string("<div class=\"count\"><a href=\"") + href + "\"><span class=\"n\">" + std::to_string(n) +
         "</span> " + label + "</a></div>";
}

std::string QueryString(const TRequestFilter& filter, std::int64_t page) {
  std::string q = "?status=" + H(filter.status) + "&amp;date=" + H(filter.day);
  if (filter.id != 0) q += "&amp;id=" + std::to_string(filter.id);
  if (!filter.store.empty()) q += "&amp;store=" + H(filter.store);
  if (!filter.till.empty()) q += "&amp;till=" + H(filter.till);
  return q + "&amp;page=" + std::to_string(page);
}

// A free text of a list's row: at most kShownTextChars, the rest behind the request's page.
std::string CutCell(const std::string& ansi, const std::string& id) {
  if (ansi.size() <= kShownTextChars) return "<td class=\"text\">" + H(ansi) + "</td>";
  return "<td class=\"text\">" + H(ansi.substr(0, kShownTextChars)) + "\u2026 <a href=\"/requests/" + H(id) +
         "\">whole text (" + std::to_string(ansi.size()) + " characters)</a></td>";
}

std::string Operation(const std::string& operation, const char* name) {
  std::string value;
  state::ExtractOperationValue(operation, name, value);
  return value;
}

std::string Duration(double seconds) {
  const auto s = static_cast<std::int64_t>(std::max(0.0, seconds) + 0.5);
  if (s < 120) return std::to_string(s) + " s";
  if (s < 7200) return std::to_string(s / 60) + " min";
  if (s < 2 * 86400) return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
  return std::to_string(s / 86400) + " days";
}

// "yyyy-mm-dd hh:nn:ss" as the database gives DTINCLUSAO; 0 when it is not one.
platform::TDateTime ParseInserted(const std::string& text) {
  platform::DateTimeParts parts;
  char end = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &parts.year, &parts.month, &parts.day, &parts.hour,
                  &parts.minute, &parts.second, &end) != 6)
    return 0;
  const platform::TDateTime value = platform::EncodeDateTime(parts);
  return platform::IsValidDateTime(value) ? value : 0;
}

// Appends one UTF-8 code point.
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-8 text as HTML text (see EscapeHtml).
std::string EscapeUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() + 16);
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\n': case '\t': out += c; break;
      case '\r':
        if (i + 1 < utf8.size() && utf8[i + 1] == '\n') break;  // a Windows line end
        [[fallthrough]];
      default:
        if (static_cast<unsigned char>(c) < 0x20) AppendUtf8(out, 0x2400 + static_cast<unsigned char>(c));
        else if (c == 0x7F) AppendUtf8(out, 0x2421);
        else out += c;
    }
  }
  return out;
}

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return false;
    char32_t c = n == 1 ? b : b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if ((n == 2 && c < 0x80) || (n == 3 && c < 0x800) || (n == 4 && c < 0x10000) || c > 0x10FFFF ||
        (c >= 0xD800 && c <= 0xDFFF))
      return false;
    i += n;
  }
  return true;
}

// The chart of runs per hour: a bar an hour, its failed part marked; no script.
std::string RunsChart(const std::vector<state::THourOfRuns>& hours, platform::TUtcDateTime since) {
  constexpr int kHours = state::kChartHours, kBar = 24, kHeight = 120, kTop = 10, kBase = kTop + kHeight;
  std::int64_t most = 1, runs = 0, failed = 0;
  for (const auto& h : hours) {
    most = std::max(most, h.runs);
    runs += h.runs;
    failed += h.failed;
  }
  std::string svg = "<figure class=\"chart\"><svg role=\"img\" viewBox=\"0 0 " + std::to_string(kHours * kBar + 40) + " " +
                    std::to_string(kBase + 20) + "\" aria-labelledby=\"chart-title\"><title id=\"chart-title\">Runs per hour, last 24 hours: " +
                    std::to_string(runs) + " runs, " + std::to_string(failed) + " failed</title>";
  svg += "<line class=\"axis\" x1=\"30\" y1=\"" + std::to_string(kBase) + "\" x2=\"" + std::to_string(30 + kHours * kBar) +
         "\" y2=\"" + std::to_string(kBase) + "\"/><text x=\"0\" y=\"" + std::to_string(kTop + 8) + "\">" + std::to_string(most) + "</text>";
  for (int hour = 0; hour < kHours; ++hour) {
    const auto found = std::find_if(hours.begin(), hours.end(), [hour](const auto& h) { return h.hour == hour; });
    const std::int64_t n = found == hours.end() ? 0 : found->runs, bad = found == hours.end() ? 0 : found->failed;
    const int x = 30 + hour * kBar + 2, all = static_cast<int>(n * kHeight / most), red = static_cast<int>(bad * kHeight / most);
    const std::string label = platform::FormatDateTime("hh", platform::UtcToLocal(since + hour / 24.0)) + ":00";
    svg += "<g><title>" + label + ": " + std::to_string(n) + " runs, " + std::to_string(bad) + " failed</title>";
    if (all > red) {
      svg += "<rect class=\"runs\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kBase - all) + "\" width=\"" +
             std::to_string(kBar - 4) + "\" height=\"" + std::to_string(all - red) + "\"/>";
    }
    if (red > 0 || bad > 0) {
      svg += "<rect class=\"failed\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kBase - std::max(red, 2)) +
             "\" width=\"" + std::to_string(kBar - 4) + "\" height=\"" + std::to_string(std::max(red, 2)) + "\"/>";
    }
    svg += "</g>";
    if (hour % 6 == 0) svg += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kBase + 15) + "\">" + label + "</text>";
  }
  return svg + "</svg><figcaption>Runs per hour over the last 24 hours; <span class=\"failed-key\">failed runs</span> in red.</figcaption></figure>\n";
}

}  // namespace

std::string EscapeHtml(std::string_view ansi) { return EscapeUtf8(platform::AnsiToUtf8(ansi)); }

std::string OutputHtml(std::string_view bytes) {
  std::size_t cut = 0;  // a character the tail began inside of
  while (cut < 3 && cut < bytes.size() && (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80) ++cut;
  if (IsUtf8(bytes.substr(cut))) return EscapeUtf8(bytes.substr(cut));
  return EscapeUtf8(platform::AnsiToUtf8(bytes));  // POSIX: Windows-1252; Windows: the system's ANSI code page
}

TPendingView PendingView(const TListedRequest& listed, platform::TDateTime now) {
  TPendingView view;
  if (listed.row.status != "P") return view;
  if (const platform::TDateTime inserted = ParseInserted(listed.row.inserted); inserted != 0 && now != 0)
    view.waiting = Duration((now - inserted) * 86400.0);
  if (listed.row.expired) {
    view.nextStart = "never: it expired";
  } else if (listed.running || (listed.runs && listed.runs->last.end == state::TRunEnd::kRunning)) {
    view.nextStart = "running now";
  } else if (!listed.runs || listed.runs->last.ended == 0) {
    view.nextStart = "at the agent's next poll";
  } else {
    const double wait = static_cast<double>(state::RetryWait(listed.runs->runs).count()) / 86400000.0;
    const platform::TDateTime next = platform::UtcToLocal(listed.runs->last.ended) + wait;
    view.nextStart = next <= now ? std::string("at the agent's next poll")
                                 : "after " + platform::FormatDateTime("hh:nn:ss", next);
  }
  return view;
}

std::string RenderOverview(const TPageFrame& frame, const TStatusReport& report, const state::TQueueCounts& counts,
                           const std::vector<state::THourOfRuns>& hours, platform::TUtcDateTime since) {
  std::string body = "<div data-live id=\"overview\">\n<h2>Agents</h2>\n";
  if (!report.storeError.empty()) body += "<p class=\"bad\">" + H(report.storeError) + "</p>\n";
  if (!report.AgentRuns()) {
    body += "<p class=\"bad agent-state\">No agent: no agent of this installation runs, so no request is started.</p>\n";
  }
  if (!report.agents.empty()) {
    body += "<div class=\"scroll\"><table><thead><tr><th scope=\"col\">User</th><th scope=\"col\">Pid</th>"
            "<th scope=\"col\">Started</th><th scope=\"col\">Last poll</th><th scope=\"col\">State</th>"
            "<th scope=\"col\">Supervises</th><th scope=\"col\">Last error</th></tr></thead><tbody>\n";
    for (const TAgentView& agent : report.agents) {
      const state::TAgentRecord& a = agent.record;
      const std::string state = !agent.running      ? "<td class=\"bad agent-state\">ended</td>"
                                : !agent.responding ? "<td class=\"bad agent-state\">not responding</td>"
                                : a.role == state::TAgentRole::kStandby
                                    ? "<td class=\"good agent-state\">running, standing by</td>"
                                    : "<td class=\"good agent-state\">running, dispatching</td>";
      body += "<tr>" + Cell(a.user) + Cell(std::to_string(a.pid)) + Cell(StateTime(a.started)) +
              Cell(a.pollAgeSeconds ? Seconds(a.pollAgeSeconds) + " ago" : std::string("not known")) + state +
              (a.request.empty() ? std::string("<td>no request</td>")
                                 : "<td><a href=\"/requests/" + H(a.request) + "\">request " + H(a.request) +
                                       "</a> since " + H(StateTime(a.requestSince)) + "</td>") +
              Cell(a.lastError.empty() ? std::string("none") : a.lastError + " (" + StateTime(a.lastErrorAt) + ")") +
              "</tr>\n";
    }
    body += "</tbody></table></div>\n";
  }
  for (const TLeftWorker& worker : report.leftWorkers) {
    body += "<p class=\"bad\">The worker of <a href=\"/requests/" + H(worker.request) + "\">request " + H(worker.request) +
            "</a> still runs after its agent (pid " + std::to_string(worker.agentPid) + ", " + H(worker.agentUser) +
            ") ended.</p>\n";
  }
  body += "<h2>Today's requests</h2>\n<div class=\"counts\">";
  body += Count("pending", counts.pendingToday, "/requests?status=P");
  body += Count("running", counts.running, "/requests?status=running");
  body += Count("done", counts.done, "/requests?status=OK");
  body += Count("failed (NOK)", counts.failed, "/requests?status=NOK");
  body += Count("cancelled", counts.cancelled, "/requests?status=C");
  body += Count("expired pending", counts.expired, "/requests?status=expired");
  body += "</div>\n<h2>Runs</h2>\n" + RunsChart(hours, since) + "</div>\n";
  const std::size_t agents = static_cast<std::size_t>(
      std::count_if(report.agents.begin(), report.agents.end(), [](const TAgentView& a) { return a.running; }));
  const std::string title = (agents == 0 ? std::string("no agent running")
                                         : std::to_string(agents) + (agents == 1 ? " agent running" : " agents running")) +
                            ", " + std::to_string(counts.pendingToday) + " pending, " + std::to_string(counts.running) +
                            " running, " + std::to_string(counts.failed) + " failed today";
  return Page("Overview: " + title, "Overview", frame, body);
}

std::string RenderRequests(const TPageFrame& frame, const TRequestFilter& filter, std::int64_t total,
                           const std::vector<TListedRequest>& rows) {
  const bool today = filter.day.empty() && filter.id == 0 && filter.status != "expired" && filter.status != "running";
  std::string body;
  body.reserve(rows.size() * 500 + 2048);
  body += "<form method=\"get\" action=\"/requests\" class=\"filters\">"
          "<label>Status <select name=\"status\">";
  for (const auto& [value, label] : {std::pair{"", "any"}, std::pair{"P", "P pending"},
                                     std::pair{"running", "P running"}, std::pair{"C", "C cancelling"}, std::pair{"OK", "OK done"},
                                     std::pair{"NOK", "NOK failed"}, std::pair{"expired", "expired pending"}}) {
    body += std::string("<option value=\"") + value + "\"" + (filter.status == value ? " selected" : "") + ">" +
            label + "</option>";
  }
  body += "</select></label> <label>Date <input type=\"text\" name=\"date\" placeholder=\"yyyy-mm-dd, all\" value=\"" +
          H(filter.day) + "\" size=\"10\"></label> <label>Id <input type=\"text\" inputmode=\"numeric\" name=\"id\" value=\"" +
          (filter.id != 0 ? std::to_string(filter.id) : std::string()) +
          "\" size=\"8\"></label> <label>Store <input type=\"text\" name=\"store\" value=\"" + H(filter.store) +
          "\" size=\"6\"></label> <label>Till <input type=\"text\" name=\"till\" value=\"" + H(filter.till) +
          "\" size=\"6\"></label> <button type=\"submit\">Show</button></form>\n";

  const std::int64_t pages = std::max<std::int64_t>(1, (total + kRequestsPerPage - 1) / kRequestsPerPage);
  body += "<div data-live id=\"requests\">\n<p class=\"summary\">" + std::to_string(total) +
          (total == 1 ? " request" : " requests") + (today ? " today" : "") +
          ", page " + std::to_string(filter.page) + " of " + std::to_string(pages) + "</p>\n";
  body += "<div class=\"scroll\"><table><thead><tr><th scope=\"col\">Id</th><th scope=\"col\">Status</th>"
          "<th scope=\"col\">Store</th><th scope=\"col\">Till</th>"
          "<th scope=\"col\">Operation</th><th scope=\"col\">Inserted</th><th scope=\"col\">Waiting</th><th scope=\"col\">Error</th>"
          "<th scope=\"col\">Runs</th><th scope=\"col\">Duration</th><th scope=\"col\">Last outcome</th>"
          "<th scope=\"col\">Next start</th><th scope=\"col\">Action</th></tr></thead><tbody>\n";
  for (const TListedRequest& listed : rows) {
    const TRequestRow& row = listed.row;
    const TPendingView pending = PendingView(listed, frame.now);
    body += "<tr><td><a href=\"/requests/" + H(row.id) + "\">" + H(row.id) + "</a></td>" +
            Cell(listed.running && row.status == "P" ? std::string("P (running)") : StatusText(row, "")) +
            Cell(Operation(row.operation, "CDFILIAL")) + Cell(Operation(row.operation, "CDCAIXA")) +
            CutCell(row.operation, row.id) + Cell(row.inserted) + Cell(pending.waiting) + CutCell(row.error, row.id) +
            (listed.runs ? Cell(std::to_string(listed.runs->runs)) + Cell(Seconds(listed.runs->totalSeconds)) +
                               Cell(state::DescribeRunEnd(listed.runs->last))
                         : std::string("<td>0</td><td>-</td><td>-</td>")) +
            Cell(pending.nextStart) +
            (row.status == "P" ? "<td><a class=\"button\" href=\"/requests/" + H(row.id) + "/cancel\">Cancel</a></td>"
                               : std::string("<td></td>")) +
            "</tr>\n";
  }
  body += "</tbody></table></div>\n<nav class=\"pager\" aria-label=\"Pages\">";
  if (filter.page > 1) body += "<a rel=\"prev\" href=\"/requests" + QueryString(filter, filter.page - 1) + "\">Previous page</a> ";
  if (filter.page < pages) body += "<a rel=\"next\" href=\"/requests" + QueryString(filter, filter.page + 1) + "\">Next page</a>";
  body += "</nav>\n</div>\n";
  const std::string which = filter.id != 0                ? "request " + std::to_string(filter.id)
                            : filter.status == "running" ? std::to_string(total) + " running"
                            : filter.status == "expired" ? std::to_string(total) + " expired pending"
                            : std::to_string(total) + (filter.status.empty() ? std::string() : " " + filter.status) +
                                  (today ? " today" : filter.day == "all" ? " on any day" : filter.day.empty() ? "" : " on " + filter.day);
  return Page("Requests: " + which, "Requests", frame, body);
}

std::string RenderRequest(const TPageFrame& frame, const TRequestDetail& detail, bool running,
                          const std::vector<TRunView>& runs, const std::vector<std::string>& cancels) {
  const TRequestRow& row = detail.row;
  std::string body = "<div data-live id=\"request\">\n<dl class=\"fields\">";
  for (const auto& [label, value] :
       {std::pair{"Status", running && row.status == "P" ? std::string("P (running)") : StatusText(row, "")},
        std::pair{"Store", Operation(row.operation, "CDFILIAL")}, std::pair{"Till", Operation(row.operation, "CDCAIXA")},
        std::pair{"Operation", row.operation}, std::pair{"Type", detail.type},
        std::pair{"Application", detail.application}, std::pair{"Inserted", row.inserted},
        std::pair{"Started", detail.started}, std::pair{"Last update", detail.updated},
        std::pair{"Error", row.error}}) {
    body += std::string("<dt>") + label + "</dt><dd class=\"text\">" + (value.empty() ? "-" : H(value)) + "</dd>";
  }
  body += "</dl>\n<h2>Runs</h2>\n";
  if (runs.empty()) body += "<p>No run recorded.</p>\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const state::TRunRecord& run = runs[i].run;
    body += "<section class=\"run\"><h3>Run " + std::to_string(i + 1) + ": " + H(state::DescribeRunEnd(run)) +
            "</h3><p>Started " + H(StateTime(run.started)) +
            (run.end == state::TRunEnd::kRunning ? std::string() : ", ended " + H(StateTime(run.ended))) + ", " +
            Seconds(run.durationSeconds) + (run.workerPid ? ", worker pid " + std::to_string(run.workerPid) : "") +
            (run.note.empty() ? std::string() : "; " + H(run.note)) + "</p>";
    if (!runs[i].outputProblem.empty()) body += "<p class=\"bad\">" + H(runs[i].outputProblem) + "</p>";
    if (!runs[i].outputTail.empty()) {
      body += "<p>" + std::string(runs[i].outputSize > runs[i].outputTail.size() ? "The last " + std::to_string(runs[i].outputTail.size()) + " of " + std::to_string(runs[i].outputSize) + " bytes" : "The output") +
              " of " + H(run.output) + ":</p><pre class=\"output\">" + OutputHtml(runs[i].outputTail) + "</pre>";
    }
    body += "</section>\n";
  }
  if (!cancels.empty()) {
    body += "<h2>Cancels from this page</h2>\n<ul class=\"cancels\">";
    for (const std::string& cancel : cancels) body += "<li>" + H(cancel) + "</li>";
    body += "</ul>\n";
  }
  if (row.status == "P") {
    body += "<p><a class=\"button\" href=\"/requests/" + H(row.id) + "/cancel\">Cancel this request</a></p>\n";
  }
  body += "</div>\n";
  return Page("Request " + row.id + ": " + StatusMeaning(row, running), "Requests", frame, body);
}

std::string RenderCancelConfirmation(const TPageFrame& frame, const TRequestDetail& detail) {
  const TRequestRow& row = detail.row;
  if (row.status != "P") {
    return Page("Request " + row.id + " cannot be cancelled", "Requests", frame,
                "<p>Request " + H(row.id) + " is " + H(StatusMeaning(row, false)) + ": only a pending request is cancelled. <a href=\"/requests/" +
                    H(row.id) + "\">Back to the request</a></p>\n");
  }
  std::string body = "<p>Cancel request " + H(row.id) + " (" + H(row.operation) +
                     ")? " + (row.expired ? "It expired: the agent never starts it; cancelling it clears it from the pending rows."
                                          : "A pending request is never started; the agent stops a running one's worker.") + "</p>\n"
                     "<form method=\"post\" action=\"/requests/" + H(row.id) + "/cancel\">"
                     "<input type=\"hidden\" name=\"csrf\" value=\"" + H(frame.csrfToken) + "\">"
                     "<button type=\"submit\" class=\"danger\">Yes, cancel request " + H(row.id) + "</button> "
                     "<a href=\"/requests/" + H(row.id) + "\">No, keep it</a></form>\n";
  return Page("Cancel request " + row.id, "Requests", frame, body);
}

std::string RenderLogs(const TPageFrame& frame, const std::vector<TLogEntry>& entries, std::int64_t page) {
  const auto pages = static_cast<std::int64_t>(std::max<std::size_t>(1, (entries.size() + kLogEntriesPerPage - 1) / kLogEntriesPerPage));
  page = std::clamp<std::int64_t>(page, 1, pages);
  std::string body = "<div data-live id=\"logs\">\n<p class=\"summary\">" + std::to_string(entries.size()) +
                     (entries.size() >= kMaxLogEntries ? " latest entries today" : " entries today") + ", newest first, page " + std::to_string(page) + " of " + std::to_string(pages) + "</p>\n";
  const std::size_t first = static_cast<std::size_t>(page - 1) * kLogEntriesPerPage;
  for (std::size_t i = first; i < entries.size() && i < first + kLogEntriesPerPage; ++i) {
    body += "<article class=\"entry\"><h2>" + H(entries[i].source) + (entries[i].time.empty() ? "" : " at " + H(entries[i].time)) +
            "</h2><pre>" + H(entries[i].text) + "</pre></article>\n";
  }
  body += "<nav class=\"pager\" aria-label=\"Pages\">";
  if (page > 1) body += "<a rel=\"prev\" href=\"/logs?page=" + std::to_string(page - 1) + "\">Previous page</a> ";
  if (page < pages) body += "<a rel=\"next\" href=\"/logs?page=" + std::to_string(page + 1) + "\">Next page</a>";
  body += "</nav>\n</div>\n";
  return Page("Logs: " + std::to_string(entries.size()) + (entries.size() >= kMaxLogEntries ? " latest entries" : " entries") + " today", "Logs", frame, body);
}

std::string RenderSettings(const TPageFrame& frame, const std::vector<std::string>& lines,
                           const std::vector<std::string>& problems) {
  std::string body = "<dl class=\"fields\">";
  for (const std::string& line : lines) {
    const std::size_t colon = line.find(": ");
    const std::string name = line.substr(0, colon);
    std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 2);
    value.erase(0, value.find_first_not_of(' '));
    body += "<dt>" + H(name) + "</dt><dd class=\"text\">" + H(value) + "</dd>";
  }
  body += "</dl>\n";
  for (const std::string& problem : problems) body += "<p class=\"bad\">" + H(problem) + "</p>\n";
  return Page("Settings", "Settings", frame, body);
}

std::string RenderProblem(const TPageFrame& frame, std::string_view title, std::string_view problem) {
  return Page(title, "", frame, "<p class=\"bad\">" + H(problem) + "</p>\n");
}

std::string RenderSignIn(const TPageFrame& frame, std::string_view title, std::string_view problem, std::string_view next) {
  std::string body = problem.empty() ? std::string() : "<p class=\"bad\">" + H(problem) + "</p>\n";
  body += "<form method=\"post\" action=\"/login\" class=\"sign-in\">"
          "<label for=\"token\">Access token</label> "
          "<input id=\"token\" name=\"token\" type=\"password\" autocomplete=\"current-password\" required> "
          "<input type=\"hidden\" name=\"next\" value=\"" + H(next) + "\">"
          "<button type=\"submit\">Sign in</button></form>\n"
          "<p>QarCfg serve prints the page's address with its token, and names the file that keeps it.</p>\n";
  return Page(title, "", frame, body);
}

std::string_view StatusScript() {
  // Every 2 s the live parts are fetched again and swapped in; nothing runs while the
  // tab is hidden, and a failed fetch only marks the page as stale.
  return R"JS('use strict';
(function () {
  var live = document.querySelectorAll('[data-live]');
  if (!live.length) return;
  var busy = false;
  function refresh() {
    if (document.hidden || busy) return;
    busy = true;
    fetch(location.href, {credentials: 'same-origin', cache: 'no-store'})
      .then(function (r) { if (!r.ok) throw new Error(r.status); return r.text(); })
      .then(function (html) {
        var doc = new DOMParser().parseFromString(html, 'text/html');
        live.forEach(function (el) {
          var fresh = doc.getElementById(el.id);
          if (fresh) el.replaceChildren.apply(el, Array.from(fresh.childNodes).map(function (n) { return document.importNode(n, true); }));
        });
        document.body.classList.remove('stale');
      })
      .catch(function () { document.body.classList.add('stale'); })
      .finally(function () { busy = false; });
  }
  setInterval(refresh, 2000);
  document.addEventListener('visibilitychange', refresh);
})();
)JS";
}

std::string_view StatusStyle() {
  return R"CSS(body { font-family: system-ui, sans-serif; margin: 0; color: #1a1a1a; background: #fff; line-height: 1.4; }
header { background: #17324d; padding: .5rem 1rem; }
header a { color: #fff; margin-right: 1rem; text-decoration: none; display: inline-block; padding: .25rem 0; }
header a[aria-current] { border-bottom: 2px solid #fff; }
main { padding: 0 1rem 2rem; max-width: 72rem; }
h1 { font-size: 1.4rem; } h2 { font-size: 1.1rem; }
.scroll { overflow-x: auto; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: .3rem .5rem; border-bottom: 1px solid #ccc; vertical-align: top; }
td.text, dd.text, pre { overflow-wrap: anywhere; white-space: pre-wrap; }
td.text { min-width: 12rem; }
a { color: #0b4f8a; }
.counts { display: flex; flex-wrap: wrap; gap: .5rem; }
.count a { display: block; min-width: 7rem; padding: .5rem; border: 1px solid #ccc; border-radius: 4px; text-decoration: none; color: #1a1a1a; }
.count .n { font-size: 1.5rem; font-weight: bold; display: block; }
.good { color: #0a6b2d; font-weight: bold; } .bad { color: #a4000f; font-weight: bold; }
.notice { background: #eef5ff; padding: .5rem; border-left: 4px solid #0b4f8a; }
.filters label { display: inline-block; margin: 0 .5rem .5rem 0; }
.sign-in input { font: inherit; padding: .4rem; margin: 0 .5rem .5rem 0; max-width: 100%; }
.pager a { display: inline-block; margin: .5rem 1rem .5rem 0; }
dl.fields { display: grid; grid-template-columns: max-content 1fr; gap: .25rem 1rem; }
dt { font-weight: bold; } dd { margin: 0; }
a.button, button { font: inherit; padding: .4rem .8rem; border: 1px solid #0b4f8a; border-radius: 4px; background: #fff; color: #0b4f8a; text-decoration: none; }
button.danger { background: #a4000f; color: #fff; border-color: #a4000f; }
.entry pre, pre.output { background: #f5f5f5; padding: .5rem; }
.chart svg { width: 100%; max-width: 40rem; height: auto; } .chart text { font-size: 10px; fill: #444; }
.chart .runs { fill: #0b4f8a; } .chart .failed { fill: #a4000f; } .chart .axis { stroke: #888; }
.failed-key { color: #a4000f; font-weight: bold; } .refreshed { color: #555; font-size: .9rem; }
body.stale main { opacity: .6; }
@media (max-width: 30rem) { dl.fields { grid-template-columns: 1fr; } main { padding: 0 .5rem 1rem; } }
)CSS";
}

}  // namespace qar::tools
