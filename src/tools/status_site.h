// The status page's requests and answers, apart from any network transport.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "state/state_store.h"
#include "data/ado_connection.h"
#include "tools/agent_status_report.h"
#include "tools/http_access.h"
#include "tools/http_message.h"
#include "tools/route_table.h"
#include "tools/status_pages.h"

namespace qar::tools {

// Where the page gets what it shows; each source may raise (the page shows the message).
struct TStatusSources {
  std::string connectionString;  // the installation's database, opened read-only
  std::string installation;      // the installation's directory: its agents are shown
  std::function<std::vector<TLogEntry>()> todaysLogEntries;
  std::function<std::pair<std::vector<std::string>, std::vector<std::string>>()> settings;  // lines, problems
  std::function<std::string()> metrics;  // the Prometheus text of one scrape; empty function: no /metrics
  std::string cancelLog;  // the file that records the page's cancels (RecordCancel); empty: none
};

// What a route declares it needs; the site opens only that before the handler runs.
enum TRouteNeeds : unsigned {
  kNeedsNothing = 0,
  kNeedsAgents = 1u << 0,            // the agents as they published themselves: report, store
  kNeedsDatabase = 1u << 1,          // the installation's database, read-only
  kNeedsWritableDatabase = 1u << 2,  // the one connection that may write (a cancel)
  kOpenToAll = 1u << 3,              // answered without the access token (style, script, sign-in)
};

// What a route's handler gets: the request, and what its needs opened.
struct TSiteContext {
  const THttpRequest& request;
  std::int64_t id = 0;  // the route's {id}
  bool api = false;     // an /api/ path: errors as JSON
  TPageFrame frame;     // the session's anti-forgery token for the page's forms
  TAccess access;
  // kNeedsAgents: `report.storeError` says why `store` is empty.
  state::TStatusReport report;
  std::optional<state::TStateStore> store;
  std::vector<std::string> running;  // the requests an agent supervises now
  // kNeedsDatabase, kNeedsWritableDatabase
  TADOConnection database;
};

// Answers the status page's requests:
//   GET  /                     overview          GET /api/status    the same as JSON
//   GET  /requests             filters, paging   GET /api/requests  the same as JSON
//   GET  /requests/ID          one request       GET /logs, /settings
//   GET  /requests/ID/cancel   the confirmation  POST /requests/ID/cancel  cancel it
//   GET  /login                the sign-in form  POST /login        exchange the token for a session
//   GET  /metrics              the installation's metrics for Prometheus (a Bearer token)
// Before anything else, the Host header must name the page (TServedOrigin::NamedBy).
// Every request but the style, the script and the sign-in needs the access token:
// a header (TAccessControl::Check) or a session's cookie. A GET with ?token=TOKEN
// opens a session and sends the browser to the same address without the token.
// A POST from a browser must come from the page's origin with its session's
// anti-forgery field "csrf". Thread-safe: the transport calls Handle from several threads.
class TStatusSite {
 public:
  TStatusSite(TStatusSources sources, TServedOrigin origin, std::string accessToken);

  THttpResponse Handle(const THttpRequest& request);

 private:
  using TSiteRoute = TRouteTable<TSiteContext>::TRoute;
  void AddRoutes();
  // Opens what `route` needs and runs its handler; a failure becomes an error page.
  THttpResponse Run(const TSiteRoute& route, const THttpRequest& request, std::int64_t id, const TAccess& access) const;
  // Opens what a route needs (TRouteNeeds bits) into `context`. Raises ECommandError
  // when the database cannot be reached; a store that cannot be read is told in
  // context.report.storeError.
  void Open(unsigned needs, TSiteContext& context) const;

  TStatusSources sources_;
  mutable std::mutex dataTurn_;
  TAccessControl access_;
  TRouteTable<TSiteContext> routes_;
};

}  // namespace qar::tools
