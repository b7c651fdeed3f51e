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
// value from the database or a log can never become markup; control characters but
// line breaks and tabs shown as their visible symbols (U+2400 block).
std::string EscapeHtml(std::string_view ansi);
// A worker's output as HTML text: read as UTF-8 where it is valid UTF-8 (a sequence
// the tail cut at its start aside), else as Windows-1252; escaped as EscapeHtml does.
std::string OutputHtml(std::string_view bytes);
// The longest free text a list's cell shows; the request's own page shows it whole.
inline constexpr std::size_t kShownTextChars = 200;

// One run of a request with the last bytes of the worker's output file, when it has one.
struct TRunView {
  state::TRunRecord run;
  std::string outputTail;     // bytes as written, passwords masked; empty: no file, or an empty one
  std::uint64_t outputSize = 0;  // the file's whole size
  std::string outputProblem;  // why the recorded file is not shown; ANSI
};

// What every page shares: the anti-forgery token its forms carry, the time it was made.
struct TPageFrame {
  std::string csrfToken;
  std::string notice;        // a line shown above the content (after a cancel); ANSI
  platform::TDateTime now = 0;  // local; 0: not shown
};

// `report`: the agents and left workers as `QarCfg status` reads them; `hours`: the
// runs per hour from `since` (24 hours, UTC) for the chart.
std::string RenderOverview(const TPageFrame& frame, const state::TStatusReport& report, const state::TQueueCounts& counts,
                           const std::vector<state::THourOfRuns>& hours = {}, platform::TUtcDateTime since = 0);
// `rows`: the page's rows with their runs; `total` the rows on all pages.
std::string RenderRequests(const TPageFrame& frame, const TRequestFilter& filter, std::int64_t total,
                           const std::vector<state::TListedRequest>& rows);
// `cancels`: the page's recorded cancels of the request ("<when> from <address>").
std::string RenderRequest(const TPageFrame& frame, const TRequestDetail& detail, bool running,
                          const std::vector<TRunView>& runs, const std::vector<std::string>& cancels = {});
std::string RenderCancelConfirmation(const TPageFrame& frame, const TRequestDetail& detail);
inline constexpr std::size_t kLogEntriesPerPage = 50;
std::string RenderLogs(const TPageFrame& frame, const std::vector<TLogEntry>& entries, std::int64_t page);
// What a pending row waits for: "12 min" since it was inserted, and its next start
// (the agent's retry wait after its last run); empty for rows that are not pending.
struct TPendingView {
  std::string waiting, nextStart;
};
TPendingView PendingView(const state::TListedRequest& listed, platform::TDateTime now);
std::string RenderSettings(const TPageFrame& frame, const std::vector<std::string>& lines,
                           const std::vector<std::string>& problems);
// A page that only says what went wrong (ANSI text), with the usual navigation.
std::string RenderProblem(const TPageFrame& frame, std::string_view title, std::string_view problem);
// The sign-in page: `problem` (none: empty) and the form that posts the access token
// to /login, which then sends the browser to `next` (a path of the page).
std::string RenderSignIn(const TPageFrame& frame, std::string_view title, std::string_view problem, std::string_view next);

// The refresh script and the style sheet, served as files (the page's policy allows
// no inline script or style).
std::string_view StatusScript();
std::string_view StatusStyle();

}  // namespace qar::tools
