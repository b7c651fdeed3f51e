// Who may use the status page: its access token, the browser sessions it was exchanged for, and the page's own origin.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "tools/http_message.h"

namespace qar::tools {

// Where the page is served: the host names a request may give for it (the listening
// address, the name it was given as, "localhost") and its port.
struct TServedOrigin {
  std::vector<std::string> hosts;  // the first is the listening address; IPv6 without brackets
  int port = 0;

  // Whether a Host header ("127.0.0.1:8470", "[::1]:8470", "LOCALHOST") names the
  // page: one of `hosts` in any case, with the page's port or none.
  bool NamedBy(std::string_view hostHeader) const;
  // Whether an Origin header is the page's own ("http://127.0.0.1:8470"); "null" never is.
  bool IsOrigin(std::string_view origin) const;
  // "http://127.0.0.1:8470/", "http://[::1]:8470/": the listening address's URL.
  std::string Url() const;
};

// How a request proved that it may use the page.
enum class TAccessKind {
  kNone,
  kToken,    // a script: "X-Qar-Token: <token>" or "Authorization: Bearer <token>"
  kSession,  // a browser: the cookie of a session opened with the token
};

struct TAccess {
  TAccessKind kind = TAccessKind::kNone;
  std::string csrf;  // kSession: the session's anti-forgery token, which its forms carry
  bool Granted() const { return kind != TAccessKind::kNone; }
};

struct TSessionLimits {
  std::chrono::seconds lifetime{12 * 3600};
  std::size_t maxSessions = 1000;  // past it, the session closest to its end is dropped
};

// The token never travels in a cookie: a browser shows it once (the URL that serve
// prints, or the login form) and gets a random session instead, which lives here and
// nowhere else. Thread-safe.
//
//   TAccessControl access(token, origin);
//   const TAccess who = access.Check(request);
//   if (!who.Granted()) return 401;
//   if (request.method == "POST" && who.kind == TAccessKind::kSession && !access.IsPageForm(request, who)) return 403;
class TAccessControl {
 public:
  TAccessControl(std::string token, TServedOrigin origin, TSessionLimits limits = {},
                 platform::Clock& clock = platform::SystemClock());

  // What the request carries: the token in a header, or the cookie of a live session.
  TAccess Check(const THttpRequest& request) const;
  // Whether `offered` is the token; the comparison takes the same time wherever they differ.
  bool IsToken(std::string_view offered) const;
  // Opens a session for a browser that showed the token; returns the Set-Cookie
  // header's value: HttpOnly, SameSite=Strict, Path=/, Max-Age of the lifetime.
  std::string OpenSession();
  // Whether the request comes from one of the page's own documents: its Origin header
  // is the page's origin, or, without an Origin, its Referer is a page of that origin.
  bool FromPage(const THttpRequest& request) const;
  // FromPage, and the form's field "csrf" is `access`'s session's anti-forgery token.
  bool IsPageForm(const THttpRequest& request, const TAccess& access) const;

  const TServedOrigin& Origin() const { return origin_; }
  // "qar_session_<port>": pages served on other ports of the same host (which the
  // browser sends the same cookies) keep sessions of their own.
  std::string CookieName() const;

 private:
  struct TSession {
    std::string csrf;
    std::chrono::milliseconds ends;
  };

  std::string token_;
  TServedOrigin origin_;
  TSessionLimits limits_;
  platform::Clock& clock_;
  mutable std::mutex mutex_;
  mutable std::map<std::string, TSession> sessions_;  // by the cookie's value
};

// Equal texts, compared in a time that does not depend on where they differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

// The value of cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(const std::string& cookieHeader, std::string_view name);

}  // namespace qar::tools
