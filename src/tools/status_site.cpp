#include "tools/status_site.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "data/data_error.h"
#include "data/driver_session.h"
#include "diagnostics/log_file.h"
#include "diagnostics/mask_password.h"
#include "platform/datetime.h"
#include "platform/file_tail.h"
#include "platform/module.h"
#include "state/command_error.h"
#include "state/control_requests.h"
#include "state/control_table.h"
#include "state/state_store.h"
#include "state/worker_output.h"

namespace qar::tools {

using state::CancelRequest;
using state::CountQueue;
using state::ECommandError;
using state::EUsageError;
using state::ReadInstallationStatus;
using state::RunningRequests;
using state::TListedRequest;
using state::TRequestRow;
using state::TStatusReport;

namespace {

THttpResponse Answer(int status, std::string body, std::string contentType = "text/html; charset=utf-8") {
  THttpResponse response;
  response.status = status;
  response.body = std::move(body);
  response.contentType = std::move(contentType);
  return response;
}

THttpResponse Redirect(const std::string& location) {
  THttpResponse response = Answer(303, "");
  response.headers.emplace_back("Location", location);
  return response;
}

// An error page titled by what happened, or its JSON for the API.
THttpResponse Refused(int status, std::string_view title, std::string_view problem, bool api) {
  if (api) return Answer(status, "{\"error\":" + JsonString(problem) + "}\n", "application/json");
  return Answer(status, RenderProblem(TPageFrame{}, title, problem));
}

// The sign-in page, with the form that brings the browser back to `next`.
THttpResponse SignIn(int status, std::string_view title, std::string_view problem, const std::string& next, bool api) {
  THttpResponse response =
      api ? Refused(status, title, problem, true) : Answer(status, RenderSignIn(TPageFrame{}, title, problem, next));
  if (status == 401) response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"QarSnc\"");
  return response;
}

// A path of this page to return to: "/..." but not "//..." (another host).
std::string LocalPath(const std::string& path) {
  if (path.empty() || path.front() != '/' || path.starts_with("//") || path.starts_with("/\\") ||
      path.find_first_of("\r\n") != std::string::npos)
    return "/";
  return path;
}

// The request's address without its field "token", encoded again.
std::string AddressWithoutToken(const THttpRequest& request) {
  std::string query;
  for (const auto& [name, value] : request.params) {
    if (name == "token") continue;
    query += (query.empty() ? "?" : "&") + UrlEncoded(name) + "=" + UrlEncoded(value);
  }
  std::string path;
  for (const char c : request.path) path += c == '/' ? std::string("/") : UrlEncoded(std::string_view(&c, 1));
  return LocalPath(path) + query;
}

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The last bytes of a run's output shown on its request's page.
constexpr std::size_t kOutputTailBytes = 16 * 1024;

// A run with its output: read only when the stored name is the one the naming rule
// gives for the request in the output directory (the store is group-writable: a
// planted "/etc/passwd" is never opened), and only from a regular file.
TRunView RunView(state::TRunRecord run, std::int64_t request) {
  TRunView view{std::move(run), {}, 0, {}};
  view.run.note = diagnostics::MaskPassword(view.run.note);
  const std::string& file = view.run.output;
  if (file.empty()) return view;
  if (!state::IsWorkerOutputPath(file, state::WorkerOutputDirectory(), request)) {
    view.outputProblem = "The recorded output file is not shown: it is not one of this request's files in " +
                         state::WorkerOutputDirectory() + ".";
    return view;
  }
  platform::TFileTail tail = platform::ReadFileTail(file, kOutputTailBytes);
  if (!tail.ok) {
    view.outputProblem = "The output file cannot be read: " + tail.error + ".";
    return view;
  }
  view.outputTail = diagnostics::MaskPassword(tail.text);
  view.outputSize = tail.size;
  return view;
}

THttpResponse Overview(TSiteContext& c) {
  c.report.queue = CountQueue(c.database, c.running);
  if (c.api) return Answer(200, StatusJson(c.report) + "\n", "application/json");
  // The chart's 24 hours end with the current one.
  const platform::TUtcDateTime now = platform::NowUtc();
  const platform::TUtcDateTime since = std::floor(now * 24.0) / 24.0 - (state::kChartHours - 1) / 24.0;
  std::vector<state::THourOfRuns> hours;
  if (c.store) hours = c.store->RunsPerHour(since);
  return Answer(200, RenderOverview(c.frame, c.report, *c.report.queue, hours, since));
}

THttpResponse Requests(TSiteContext& c) {
  const THttpRequest& request = c.request;
  const TRequestFilter filter = ParseRequestFilter(request.Param("status"), request.Param("date"), request.Param("id"),
                                                   request.Param("page"), request.Param("store"), request.Param("till"));
  const TRequestPage page = QueryRequests(c.database, filter, c.running);
  const state::TMoment now = state::TMoment::Now();
  std::vector<TListedRequest> listed;
  for (const TRequestRow& row : page.rows) {
    TListedRequest item{row, Contains(c.running, row.id), std::nullopt};
    if (c.store) item.runs = c.store->SummaryOf(std::stoll(row.id), now);
    listed.push_back(std::move(item));
  }
  if (!c.api) return Answer(200, RenderRequests(c.frame, filter, page.total, listed));
  THttpResponse response = Answer(200, ListJson(listed) + "\n", "application/json");
  response.headers.emplace_back("X-Total-Count", std::to_string(page.total));
  return response;
}

THttpResponse NoSuchRequest(const TSiteContext& c) {
  return Answer(404, RenderProblem(c.frame, "No such request", "There is no request " + std::to_string(c.id) + "."));
}

THttpResponse Request(TSiteContext& c, const std::string& cancelLog) {
  const TRequestDetail detail = QueryRequest(c.database, c.id);
  if (!detail.found) return NoSuchRequest(c);
  // The address is anyone's to write: the notice only says what the row itself says.
  if (c.request.Param("notice") == "cancelled" && detail.row.status == state::kStatusCancelRequested)
    c.frame.notice = "Request " + std::to_string(c.id) + " is cancelled (status C): the agent never starts it, and stops its worker if one runs.";
  std::vector<TRunView> runs;
  if (c.store) {
    for (state::TRunRecord& run : c.store->RunsOfRequest(c.id, state::TMoment::Now())) runs.push_back(RunView(std::move(run), c.id));
  }
  const std::vector<std::string> cancels = cancelLog.empty() ? std::vector<std::string>() : RecordedCancels(cancelLog, c.id);
  return Answer(200, RenderRequest(c.frame, detail, Contains(c.running, detail.row.id), runs, cancels));
}

THttpResponse CancelConfirmation(TSiteContext& c) {
  const TRequestDetail detail = QueryRequest(c.database, c.id);
  if (!detail.found) return NoSuchRequest(c);
  return Answer(200, RenderCancelConfirmation(c.frame, detail));
}

THttpResponse Cancel(TSiteContext& c, const std::string& cancelLog) {
  try {
    CancelRequest(c.database, c.id, true);
  } catch (const ECommandError& error) {
    return Answer(409, RenderProblem(c.frame, "Request " + std::to_string(c.id) + " was not cancelled", error.what()));
  }
  std::string problem;
  try {
    if (!cancelLog.empty())
      RecordCancel(cancelLog, c.id, StateTime(platform::NowUtc()),
                   c.request.remoteAddress.empty() ? std::string("an unknown address") : c.request.remoteAddress);
  } catch (const diagnostics::EInOutError& error) {
    problem = error.what();
  }
  if (!problem.empty()) {
    return Answer(200, RenderProblem(c.frame, "Request " + std::to_string(c.id) + " cancelled, but not recorded",
                                     "The request is cancelled; its record could not be written: " + problem));
  }
  return Redirect("/requests/" + std::to_string(c.id) + "?notice=cancelled");
}

}  // namespace

TStatusSite::TStatusSite(TStatusSources sources, TServedOrigin origin, std::string accessToken)
    : sources_(std::move(sources)), access_(std::move(accessToken), std::move(origin)) {
  AddRoutes();
}

void TStatusSite::AddRoutes() {
  const auto file = [](std::string_view text, const char* type) {
    return [text, type](TSiteContext&) { return Answer(200, std::string(text), type); };
  };
  routes_.Add("GET", "/static/status.js", kOpenToAll, file(StatusScript(), "text/javascript; charset=utf-8"));
  routes_.Add("GET", "/static/status.css", kOpenToAll, file(StatusStyle(), "text/css; charset=utf-8"));
  routes_.Add("GET", "/login", kOpenToAll,
              [](TSiteContext& c) { return SignIn(200, "Sign in", "", LocalPath(c.request.Param("next")), false); });
  routes_.Add("POST", "/login", kOpenToAll, [this](TSiteContext& c) {
    if (!access_.FromPage(c.request))
      return Refused(403, "Not sent from this page", "The sign-in form must be sent from this page: open it again.", false);
    const std::string next = LocalPath(c.request.Param("next"));
    if (!access_.IsToken(c.request.Param("token")))
      return SignIn(401, "Wrong access token", "The access token is wrong.", next, false);
    THttpResponse response = Redirect(next);
    response.headers.emplace_back("Set-Cookie", access_.OpenSession());
    return response;
  });
  routes_.Add("GET", "/settings", kNeedsNothing, [this](TSiteContext& c) {
    const auto [lines, problems] = sources_.settings();
    return Answer(200, RenderSettings(c.frame, lines, problems));
  });
  routes_.Add("GET", "/logs", kNeedsNothing, [this](TSiteContext& c) {
    const std::string page = c.request.Param("page");
    std::int64_t number = 1;
    std::from_chars(page.data(), page.data() + page.size(), number);
    return Answer(200, RenderLogs(c.frame, sources_.todaysLogEntries(), number));
  });
  if (sources_.metrics) {
    routes_.Add("GET", "/metrics", kNeedsNothing, [this](TSiteContext&) {
      return Answer(200, sources_.metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
  }
  routes_.Add("GET", "/", kNeedsAgents | kNeedsDatabase, Overview);
  routes_.Add("GET", "/api/status", kNeedsAgents | kNeedsDatabase, Overview);
  routes_.Add("GET", "/requests", kNeedsAgents | kNeedsDatabase, Requests);
  routes_.Add("GET", "/api/requests", kNeedsAgents | kNeedsDatabase, Requests);
  routes_.Add("GET", "/requests/{id}", kNeedsAgents | kNeedsDatabase,
              [this](TSiteContext& c) { return Request(c, sources_.cancelLog); });
  routes_.Add("GET", "/requests/{id}/cancel", kNeedsDatabase, CancelConfirmation);
  routes_.Add("POST", "/requests/{id}/cancel", kNeedsWritableDatabase,
              [this](TSiteContext& c) { return Cancel(c, sources_.cancelLog); });
}

void TStatusSite::Open(unsigned needs, TSiteContext& context) const {
  if ((needs & kNeedsAgents) != 0) {
    // The agents as they published themselves in the state store, as `status` reads them;
    // the store stays open for the page's runs.
    context.report = ReadInstallationStatus(sources_.installation, state::TMoment::Now(), &context.store);
    TStatusReport& report = context.report;
    if (report.storeMissing) report.storeError = "No agent of this installation has run yet (there is no " + report.store + ").";
    context.running = RunningRequests(report);
    for (state::TAgentView& agent : report.agents) agent.record.lastError = diagnostics::MaskPassword(agent.record.lastError);
  }
  if ((needs & (kNeedsDatabase | kNeedsWritableDatabase)) != 0) {
    try {
      if ((needs & kNeedsWritableDatabase) != 0) {
        context.database.SetConnectionString(sources_.connectionString);
        context.database.Open();
      } else {
        OpenReadOnly(context.database, sources_.connectionString);
      }
    } catch (const EDataError& error) {
      throw ECommandError(std::string("the database cannot be reached: ") + error.what());
    }
  }
}

THttpResponse TStatusSite::Run(const TSiteRoute& route, const THttpRequest& request, std::int64_t id,
                               const TAccess& access) const {
  // Where the embedded database's sessions may not be used side by side, the routes
  // that read take turns, to the last close; requests are still received and
  // answers sent side by side.
  std::unique_lock turn(dataTurn_, std::defer_lock);
  if (!kEmbeddedSessionsSideBySide && (route.needs & (kNeedsAgents | kNeedsDatabase | kNeedsWritableDatabase)) != 0)
    turn.lock();
  const bool api = request.path.starts_with("/api/");
  try {
    TSiteContext context{request, id, api, TPageFrame{access.csrf, {}, platform::Now()}, access, {}, {}, {}, {}};
    Open(route.needs, context);
    return route.handler(context);
  } catch (const EUsageError& error) {
    return Refused(400, "Bad request", error.what(), api);
  } catch (const std::exception& error) {
    return Refused(503, "The status cannot be read", error.what(), api);
  }
}

THttpResponse TStatusSite::Handle(const THttpRequest& request) {
  const bool api = request.path.starts_with("/api/");
  THttpResponse response;
  const auto match = routes_.Find(request.method, request.path);
  const bool get = request.method == "GET" || request.method == "HEAD";
  TAccess access;
  // A page answered under another host name is a page a foreign site's script could
  // read through a rebound name.
  if (!access_.Origin().NamedBy(request.Header("host"))) {
    response = Refused(421, "Wrong host name",
                       "The Host header must name " + access_.Origin().Url() + " or localhost with its port.", api);
  } else if (get && request.params.count("token") != 0) {
    // The address the page was opened with: the token is exchanged for a session, and
    // the browser sent on without it, so that it stays out of the history.
    if (!access_.IsToken(request.Param("token"))) {
      response = SignIn(401, "Wrong access token", "The access token in the address is wrong.",
                        AddressWithoutToken(request), api);
    } else {
      response = Redirect(AddressWithoutToken(request));
      response.headers.emplace_back("Set-Cookie", access_.OpenSession());
    }
  } else if (!(match.route != nullptr && (match.route->needs & kOpenToAll) != 0) &&
             !(access = access_.Check(request)).Granted()) {
    response = SignIn(401, "Access token needed",
                      "This page needs the access token that QarCfg serve printed with its address.",
                      get ? AddressWithoutToken(request) : "/", api);
  } else if (match.route == nullptr) {
    response = match.pathKnown ? Refused(405, "Method not allowed", "This address does not take " + request.method + ".", api)
                               : Refused(404, "Page not found", "There is no such page.", api);
  } else if (request.method == "POST" && access.kind == TAccessKind::kSession && !access_.IsPageForm(request, access)) {
    // A cookie comes with any site's form; only the page's own forms carry its session's field.
    response = Refused(403, "Not sent from this page",
                       "The form did not come from this page: open the page again and repeat the action.", api);
  } else {
    response = Run(*match.route, request, match.id, access);
  }
  for (auto& header : SecurityHeaders()) response.headers.push_back(std::move(header));
  return response;
}

}  // namespace qar::tools
