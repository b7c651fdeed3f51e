#include "tools/status_site.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "data/ado_connection.h"
#include "data/data_error.h"
#include "platform/datetime.h"
#include "platform/module.h"
#include "platform/random.h"
#include "platform/text.h"
#include "state/command_error.h"
#include "state/control_requests.h"
#include "state/shown_text.h"
#include "state/state_store.h"
#include "tools/agent_status_report.h"

namespace qar::tools {

using state::CancelRequest;
using state::ECommandError;
using state::EUsageError;
using state::ReadInstallationStatus;
using state::TAgentView;
using state::TListedRequest;
using state::CountQueue;
using state::RunningRequests;
using state::TRequestRow;
using state::TStatusReport;

namespace {

constexpr const char* kSessionCookie = "qar_session";
constexpr const char* kTokenCookie = "qar_token";
constexpr std::size_t kSessionLength = 32;  // hex characters

std::string Param(const THttpRequest& request, const std::string& name) {
  const auto found = request.params.find(name);
  return found == request.params.end() ? std::string() : found->second;
}

std::string Header(const THttpRequest& request, const std::string& name) {
  const auto found = request.headers.find(name);
  return found == request.headers.end() ? std::string() : found->second;
}

bool IsHex(std::string_view text) {
  return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

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

THttpResponse Refused(int status, std::string_view problem, bool api) {
  if (api) return Answer(status, "{\"error\":" + JsonString(problem) + "}\n", "application/json");
  return Answer(status, RenderProblem(TPageFrame{}, "Refused", problem));
}

// The digits of "/requests/ID" and "/requests/ID/cancel"; 0 when the path is not one.
std::int64_t RequestIdOf(std::string_view path, std::string_view suffix) {
  constexpr std::string_view kPrefix = "/requests/";
  if (!path.starts_with(kPrefix) || !path.ends_with(suffix)) return 0;
  const std::string_view digits = path.substr(kPrefix.size(), path.size() - kPrefix.size() - suffix.size());
  std::int64_t id = 0;
  const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (digits.empty() || error != std::errc() || stop != digits.data() + digits.size() || id < 1 || id > 2147483647)
    return 0;
  return id;
}

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// The last lines of a worker's output file: at most 20 lines of its last 16 KB.
std::string OutputTail(const std::string& file) {
  std::ifstream in(platform::ToNativePath(file), std::ios::binary);
  if (!in) return {};
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(std::max<std::streamoff>(0, size - 16 * 1024));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  std::size_t start = text.size();
  for (int lines = 0; lines < 20 && start != std::string::npos && start > 0; ++lines) start = text.rfind('\n', start - 1);
  return start == std::string::npos || start == 0 ? text : text.substr(start + 1);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SecurityHeaders() {
  return {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'; form-action 'self'"},
          {"X-Content-Type-Options", "nosniff"},
          {"Referrer-Policy", "no-referrer"},
          {"X-Frame-Options", "DENY"},
          {"Cache-Control", "no-store"}};
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  // Every byte of the longer text is looked at; a difference in length counts too.
  const std::size_t length = std::max(a.size(), b.size());
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (std::size_t i = 0; i < length; ++i) {
    const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
    const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
    difference |= static_cast<unsigned>(x ^ y);
  }
  return difference == 0;
}

std::string CookieValue(const std::string& cookieHeader, std::string_view name) {
  std::string_view rest(cookieHeader);
  while (!rest.empty()) {
    const std::size_t end = rest.find(';');
    std::string_view pair = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
      return std::string(pair.substr(name.size() + 1));
  }
  return {};
}

TStatusSite::TStatusSite(TStatusSources sources, std::string listenHost, int port,
                         std::optional<std::string> accessToken)
    : sources_(std::move(sources)), listenHost_(std::move(listenHost)), port_(port), accessToken_(std::move(accessToken)) {}

bool TStatusSite::HostAllowed(const std::string& host) const {
  std::string name = host;
  std::string port;
  const std::size_t bracket = host.rfind(']');
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
  }
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  if (!port.empty() && port != std::to_string(port_)) return false;
  return platform::SameTextAscii(name, listenHost_) || platform::SameTextAscii(name, "localhost");
}

THttpResponse TStatusSite::Handle(const THttpRequest& request) const {
  const bool api = request.path.starts_with("/api/");
  THttpResponse response;
  // A page answered under another host name is a page a foreign site's script could
  // read through a rebound name.
  if (!HostAllowed(Header(request, "host"))) {
    response = Refused(421, "The Host header must name " + listenHost_ + ":" + std::to_string(port_) + " or localhost.", api);
  } else {
    const std::string cookies = Header(request, "cookie");
    std::string session = CookieValue(cookies, kSessionCookie);
    const bool newSession = session.size() != kSessionLength || !IsHex(session);
    if (newSession) session = platform::RandomHex(kSessionLength / 2);

    const std::string offered = Param(request, "token");
    if (accessToken_ && request.path == "/" && !offered.empty()) {
      // Visiting /?token=... once sets the cookie and takes the token out of the address bar.
      if (!ConstantTimeEquals(offered, *accessToken_)) {
        response = Refused(401, "The access token is wrong.", api);
      } else {
        response = Redirect("/");
        response.headers.emplace_back("Set-Cookie", std::string(kTokenCookie) + "=" + *accessToken_ +
                                                        "; Path=/; HttpOnly; SameSite=Strict");
      }
    } else if (accessToken_ && !ConstantTimeEquals(Header(request, "x-qar-token").empty()
                                                       ? CookieValue(cookies, kTokenCookie)
                                                       : Header(request, "x-qar-token"),
                                                   *accessToken_)) {
      response = Refused(401, "This page needs the access token: send the X-Qar-Token header, or open /?token=... once.", api);
    } else if (request.method == "POST") {
      // The form's field must repeat the session's cookie, which no other site can read.
      const std::string csrf = Param(request, "csrf");
      if (newSession || csrf.empty() || !ConstantTimeEquals(csrf, session)) {
        response = Refused(403, "The form has no valid anti-forgery token: open the page again and repeat the action.", api);
      } else {
        response = Route(request, session);
      }
    } else if (request.method != "GET" && request.method != "HEAD") {
      response = Refused(405, "Only GET, and POST for a cancellation, are answered.", api);
    } else {
      response = Route(request, session);
    }
    if (newSession) {
      response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + session +
                                                      "; Path=/; HttpOnly; SameSite=Strict");
    }
  }
  for (auto& header : SecurityHeaders()) response.headers.push_back(std::move(header));
  return response;
}

THttpResponse TStatusSite::Route(const THttpRequest& request, const std::string& csrf) const {
  const std::string& path = request.path;
  const bool api = path.starts_with("/api/");
  TPageFrame frame{csrf, {}};
  try {
    if (path == "/static/status.js") return Answer(200, std::string(StatusScript()), "text/javascript; charset=utf-8");
    if (path == "/static/status.css") return Answer(200, std::string(StatusStyle()), "text/css; charset=utf-8");
    if (path == "/settings") {
      const auto [lines, problems] = sources_.settings();
      return Answer(200, RenderSettings(frame, lines, problems));
    }
    if (path == "/logs") {
      const std::string page = Param(request, "page");
      std::int64_t number = 1;
      std::from_chars(page.data(), page.data() + page.size(), number);
      return Answer(200, RenderLogs(frame, sources_.todaysLogEntries(), number));
    }

    // The agents as they published themselves in the state store, as `status` reads them.
    const state::TMoment now = state::TMoment::Now();
    TStatusReport report = ReadInstallationStatus(sources_.installation, now);
    if (report.storeMissing) report.storeError = "No agent of this installation has run yet (there is no " + report.store + ").";
    std::optional<state::TStateStore> store;
    if (report.storeError.empty()) {
      try {
        store.emplace(state::TStateStore::OpenForReading(report.store));
      } catch (const state::EStateStore& error) {
        report.storeError = error.what();
      }
    }
    const std::vector<std::string> running = RunningRequests(report);

    if (request.method == "POST") {
      const std::int64_t id = RequestIdOf(path, "/cancel");
      if (id == 0) return Refused(404, "There is nothing to post to here.", api);
      TADOConnection connection;  // the one connection that may write
      try {
        connection.SetConnectionString(sources_.connectionString);
        connection.Open();
      } catch (const EDataError& error) {
        throw ECommandError(std::string("the database cannot be reached: ") + error.what());
      }
      try {
        CancelRequest(connection, id);
      } catch (const ECommandError& error) {
        return Answer(409, RenderProblem(frame, "Request " + std::to_string(id) + " was not cancelled", error.what()));
      }
      return Redirect("/requests/" + std::to_string(id) + "?notice=cancelled");
    }

    TADOConnection connection;
    try {
      OpenReadOnly(connection, sources_.connectionString);
    } catch (const EDataError& error) {
      throw ECommandError(std::string("the database cannot be reached: ") + error.what());
    }
    if (path == "/" || path == "/api/status") {
      report.queue = CountQueue(connection, running);
      if (api) return Answer(200, StatusJson(report) + "\n", "application/json");
      return Answer(200, RenderOverview(frame, report, *report.queue));
    }
    if (path == "/requests" || path == "/api/requests") {
      const TRequestFilter filter = ParseRequestFilter(Param(request, "status"), Param(request, "date"),
                                                       Param(request, "id"), Param(request, "page"));
      const TRequestPage page = QueryRequests(connection, filter);
      std::vector<TListedRequest> listed;
      for (const TRequestRow& row : page.rows) {
        TListedRequest item{row, Contains(running, row.id), std::nullopt};
        if (store) item.runs = store->SummaryOf(std::stoll(row.id), now);
        listed.push_back(std::move(item));
      }
      if (!api) return Answer(200, RenderRequests(frame, filter, page.total, listed));
      THttpResponse response = Answer(200, ListJson(listed) + "\n", "application/json");
      response.headers.emplace_back("X-Total-Count", std::to_string(page.total));
      return response;
    }
    const std::int64_t cancelId = RequestIdOf(path, "/cancel");
    const std::int64_t id = cancelId != 0 ? cancelId : RequestIdOf(path, "");
    if (id != 0) {
      const TRequestDetail detail = QueryRequest(connection, id);
      if (!detail.found) return Answer(404, RenderProblem(frame, "No such request", "There is no request " + std::to_string(id) + "."));
      if (cancelId != 0) return Answer(200, RenderCancelConfirmation(frame, detail));
      if (Param(request, "notice") == "cancelled")
        frame.notice = "Request " + std::to_string(id) + ": status C (was P); the agent stops its worker.";
      std::vector<TRunView> runs;
      if (store) {
        for (const state::TRunRecord& run : store->RunsOfRequest(id, now))
          runs.push_back({run, run.output.empty() ? std::string() : OutputTail(run.output)});
      }
      return Answer(200, RenderRequest(frame, detail, Contains(running, detail.row.id), runs));
    }
    return Refused(404, "There is no such page.", api);
  } catch (const EUsageError& error) {
    return Refused(400, error.what(), api);
  } catch (const std::exception& error) {
    return Refused(503, error.what(), api);
  }
}

}  // namespace qar::tools
