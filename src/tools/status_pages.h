// The status page's HTML and JSON, rendered from what was read; no I/O here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/status_data.h"

namespace qar::tools {

// ANSI text as HTML text: converted to UTF-8, & < > " ' as character references, so a
// value from the database or a log can never become markup.
std::string EscapeHtml(std::string_view ansi);
// ANSI text as a JSON string literal (quotes included), UTF-8, control characters escaped.
std::string JsonString(std::string_view ansi);

// An agent of the installation as the overview shows it.
struct TAgentView {
  std::string user, pid, started;
  std::string lastPoll;            // when it last looked at the queue; empty: not known
  std::int64_t lastPollAgeSeconds = -1;
  bool responding = true;          // false past the agent's poll deadline
  std::string lastError;
  std::string request;             // the request it supervises; empty: none
};

// What every page shares: the anti-forgery token its forms carry.
struct TPageFrame {
  std::string csrfToken;
  std::string notice;  // a line shown above the content (after a cancel); ANSI
};

std::string RenderOverview(const TPageFrame& frame, const std::vector<TAgentView>& agents,
                           const TRequestCounts& counts, const std::string& agentProblem);
std::string RenderRequests(const TPageFrame& frame, const TRequestFilter& filter, const TRequestPage& page,
                           const std::string& runningId);
std::string RenderRequest(const TPageFrame& frame, const TRequestDetail& detail, bool running);
std::string RenderCancelConfirmation(const TPageFrame& frame, const TRequestDetail& detail);
inline constexpr std::size_t kLogEntriesPerPage = 50;
std::string RenderLogs(const TPageFrame& frame, const std::vector<TLogEntry>& entries, std::int64_t page);
std::string RenderSettings(const TPageFrame& frame, const std::vector<std::string>& lines,
                           const std::vector<std::string>& problems);
// A page that only says what went wrong (ANSI text), with the usual navigation.
std::string RenderProblem(const TPageFrame& frame, std::string_view title, std::string_view problem);

// The JSON API's bodies.
std::string StatusJson(const std::vector<TAgentView>& agents, const TRequestCounts& counts);
std::string RequestsJson(const TRequestFilter& filter, const TRequestPage& page);

// The refresh script and the style sheet, served as files (the page's policy allows
// no inline script or style).
std::string_view StatusScript();
std::string_view StatusStyle();

}  // namespace qar::tools
