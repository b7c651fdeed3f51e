// The status page's requests and answers, apart from any network transport.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/status_pages.h"

namespace qar::tools {

// One HTTP request as the transport parsed it. Header names are lower case.
struct THttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // without the query
  std::map<std::string, std::string> params;   // query and form fields (decoded)
  std::map<std::string, std::string> headers;  // lower-case names
};

struct THttpResponse {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides the ones every answer gets
};

// The headers every answer carries: no script or style from elsewhere, no sniffing,
// no referrer, no framing.
std::vector<std::pair<std::string, std::string>> SecurityHeaders();

// Where the page gets what it shows; each source may raise (the page shows the message).
struct TStatusSources {
  std::string connectionString;  // the installation's database, opened read-only
  std::string installation;      // the installation's directory: its agents are shown
  std::function<std::vector<TLogEntry>()> todaysLogEntries;
  std::function<std::pair<std::vector<std::string>, std::vector<std::string>>()> settings;  // lines, problems
};

// Answers the status page's requests:
//   GET  /                     overview          GET /api/status    the same as JSON
//   GET  /requests             filters, paging   GET /api/requests  the same as JSON
//   GET  /requests/ID          one request       GET /logs, /settings
//   GET  /requests/ID/cancel   the confirmation  POST /requests/ID/cancel  cancel it
// Before anything else, the Host header must name `listenHost` or localhost (with
// the port, when it has one), and when an access token is set, every request must
// carry it: header "X-Qar-Token", or the cookie that visiting /?token=... sets.
// A POST must carry the anti-forgery field "csrf" equal to the session's cookie.
// Thread-safe: the transport may call Handle from several threads.
class TStatusSite {
 public:
  TStatusSite(TStatusSources sources, std::string listenHost, int port, std::optional<std::string> accessToken);

  THttpResponse Handle(const THttpRequest& request) const;

 private:
  THttpResponse Route(const THttpRequest& request, const std::string& csrf) const;
  bool HostAllowed(const std::string& host) const;

  TStatusSources sources_;
  std::string listenHost_;
  int port_;
  std::optional<std::string> accessToken_;
};

// Equal texts, compared in a time that does not depend on where they differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// The value of cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(const std::string& cookieHeader, std::string_view name);

}  // namespace qar::tools
