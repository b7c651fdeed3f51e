// A table of HTTP routes: method, path pattern and handler; the first route that matches answers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/http_message.h"

namespace qar::tools {

// A path pattern: literal segments, and "{id}" for one segment of digits from 1 to
// 2147483647 (a request's id). "/requests/{id}/cancel" matches "/requests/17/cancel".
class TRoutePattern {
 public:
  explicit TRoutePattern(std::string_view pattern);
  // A path's segments, between its slashes ("/a/b": "", "a", "b").
  static std::vector<std::string_view> Split(std::string_view path);
  // Whether the path split into `segments` matches; `id` gets the {id} segment's value
  // (0 without one).
  bool Matches(const std::vector<std::string_view>& segments, std::int64_t& id) const;

 private:
  std::vector<std::string> segments_;
};

// What a route found for a request.
template <typename TRoute>
struct TRouteMatch {
  const TRoute* route = nullptr;  // null: no route for this method and path
  std::int64_t id = 0;            // the {id} segment's value
  bool pathKnown = false;         // some route has this path, for another method (405, not 404)
};

// `TContext`: what the owner hands every handler. `needs`: bits of the owner's own
// meaning, such as what it must open before the handler runs.
//
//   TRouteTable<TSiteContext> routes;
//   routes.Add("GET", "/requests/{id}", kNeedsDatabase, [](TSiteContext& c) { return Page(c.id); });
//   const auto match = routes.Find(request.method, request.path);
template <typename TContext>
class TRouteTable {
 public:
  using THandler = std::function<THttpResponse(TContext&)>;
  struct TRoute {
    std::string method;  // a HEAD request takes the GET route
    TRoutePattern pattern;
    unsigned needs;
    THandler handler;
  };

  void Add(std::string method, std::string_view pattern, unsigned needs, THandler handler) {
    routes_.push_back({std::move(method), TRoutePattern(pattern), needs, std::move(handler)});
  }

  TRouteMatch<TRoute> Find(std::string_view method, std::string_view path) const {
    TRouteMatch<TRoute> match;
    const std::string_view wanted = method == "HEAD" ? std::string_view("GET") : method;
    const std::vector<std::string_view> segments = TRoutePattern::Split(path);
    for (const TRoute& route : routes_) {
      std::int64_t id = 0;
      if (!route.pattern.Matches(segments, id)) continue;
      match.pathKnown = true;
      if (route.method == wanted) {
        match.route = &route;
        match.id = id;
        return match;
      }
    }
    return match;
  }

 private:
  std::vector<TRoute> routes_;
};

}  // namespace qar::tools
