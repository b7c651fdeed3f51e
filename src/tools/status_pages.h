// The status page's HTML and JSON, rendered from what was read; no I/O here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "state/state_store.h"
#include "tools/state_json.h"
#include "tools/status_data.h"

namespace qar::tools {

// ANSI text as HTML text: converted to UTF-8, & < > " ' as character references, so a
// value from the database or a log can never become markup.
std::string EscapeHtml(std::string_view ansi);

// One run of a request with the last lines of the worker's output file, when it has one.
struct TRunView {
  state::TRunRecord run;
  std::string outputTail;  // ANSI as written; empty: no file, or an empty one
};

// What every page shares: the anti-forgery token its forms carry.
struct TPageFrame {
  std::string csrfToken;
  std::string notice;  // a line shown above the content (after a cancel); ANSI
};

// `report`: the agents and left workers as `QarCfg status` reads them.
std::string RenderOverview(const TPageFrame& frame, const state::TStatusReport& report, const state::TQueueCounts& counts);
// `rows`: the page's rows with their runs; `total` the rows on all pages.
std::string RenderRequests(const TPageFrame& frame, const TRequestFilter& filter, std::int64_t total,
                           const std::vector<state::TListedRequest>& rows);
std::string RenderRequest(const TPageFrame& frame, const TRequestDetail& detail, bool running,
                          const std::vector<TRunView>& runs);
std::string RenderCancelConfirmation(const TPageFrame& frame, const TRequestDetail& detail);
inline constexpr std::size_t kLogEntriesPerPage = 50;
std::string RenderLogs(const TPageFrame& frame, const std::vector<TLogEntry>& entries, std::int64_t page);
std::string RenderSettings(const TPageFrame& frame, const std::vector<std::string>& lines,
                           const std::vector<std::string>& problems);
// A page that only says what went wrong (ANSI text), with the usual navigation.
std::string RenderProblem(const TPageFrame& frame, std::string_view title, std::string_view problem);

// The refresh script and the style sheet, served as files (the page's policy allows
// no inline script or style).
std::string_view StatusScript();
std::string_view StatusStyle();

}  // namespace qar::tools
