#include "tools/http_access.h"

#include <algorithm>

#include "platform/random.h"
#include "platform/text.h"

namespace qar::tools {

namespace {

constexpr std::size_t kSessionBytes = 32;  // 64 hex characters
constexpr std::size_t kCsrfBytes = 32;

// "name:port", "[v6]:port", "name": the name without brackets, and the port's text.
void SplitHostPort(std::string_view text, std::string_view& host, std::string_view& port) {
  host = text;
  port = {};
  const std::size_t bracket = text.rfind(']');
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    host = {};  // an IPv6 address is named in brackets; no other spelling names the page
  }
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool TServedOrigin::NamedBy(std::string_view hostHeader) const {
  std::string_view host, portText;
  SplitHostPort(hostHeader, host, portText);
  if (!portText.empty() && portText != std::to_string(port)) return false;
  return std::any_of(hosts.begin(), hosts.end(),
                     [host](const std::string& name) { return platform::SameTextAscii(host, name); });
}

bool TServedOrigin::IsOrigin(std::string_view origin) const {
  constexpr std::string_view kScheme = "http://";
  if (!origin.starts_with(kScheme)) return false;
  const std::string_view hostPort = origin.substr(kScheme.size());
  std::string_view host, portText;
  SplitHostPort(hostPort, host, portText);
  // A browser leaves out only the scheme's default port.
  if (portText.empty() != (port == 80) || hostPort.find('/') != std::string_view::npos) return false;
  return NamedBy(hostPort);
}

std::string TServedOrigin::Url() const {
  const std::string& host = hosts.empty() ? std::string("localhost") : hosts.front();
  return "http://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

TAccessControl::TAccessControl(std::string token, TServedOrigin origin, TSessionLimits limits, platform::Clock& clock)
    : token_(std::move(token)), origin_(std::move(origin)), limits_(limits), clock_(clock) {}

std::string TAccessControl::CookieName() const { return "qar_session_" + std::to_string(origin_.port); }

bool TAccessControl::IsToken(std::string_view offered) const {
  return !token_.empty() && ConstantTimeEquals(offered, token_);
}

TAccess TAccessControl::Check(const THttpRequest& request) const {
  const std::string header = request.Header("x-qar-token");
  const std::string authorization = request.Header("authorization");
  constexpr std::string_view kBearer = "bearer ";
  if (!header.empty() && IsToken(Trimmed(header))) return {TAccessKind::kToken, {}};
  if (authorization.size() > kBearer.size() &&
      platform::SameTextAscii(std::string_view(authorization).substr(0, kBearer.size()), kBearer) &&
      IsToken(Trimmed(std::string_view(authorization).substr(kBearer.size()))))
    return {TAccessKind::kToken, {}};

  const std::string session = CookieValue(request.Header("cookie"), CookieName());
  if (session.empty()) return {};
  const std::lock_guard lock(mutex_);
  const auto found = sessions_.find(session);
  if (found == sessions_.end()) return {};
  if (found->second.ends <= clock_.Elapsed()) {
    sessions_.erase(found);
    return {};
  }
  return {TAccessKind::kSession, found->second.csrf};
}

std::string TAccessControl::OpenSession() {
  const std::string id = platform::RandomHex(kSessionBytes);
  TSession session{platform::RandomHex(kCsrfBytes), clock_.Elapsed() + limits_.lifetime};
  {
    const std::lock_guard lock(mutex_);
    const std::chrono::milliseconds now = clock_.Elapsed();
    std::erase_if(sessions_, [now](const auto& entry) { return entry.second.ends <= now; });
    if (sessions_.size() >= std::max<std::size_t>(1, limits_.maxSessions)) {
      sessions_.erase(std::min_element(sessions_.begin(), sessions_.end(),
                                       [](const auto& a, const auto& b) { return a.second.ends < b.second.ends; }));
    }
    sessions_.emplace(id, std::move(session));
  }
  return CookieName() + "=" + id + "; Path=/; Max-Age=" + std::to_string(limits_.lifetime.count()) +
         "; HttpOnly; SameSite=Strict";
}

bool TAccessControl::FromPage(const THttpRequest& request) const {
  const std::string origin = request.Header("origin");
  if (!origin.empty()) return origin_.IsOrigin(origin);
  const std::string referer = request.Header("referer");
  const std::size_t path = referer.find('/', std::string_view("http://").size());
  return path != std::string::npos && origin_.IsOrigin(std::string_view(referer).substr(0, path));
}

bool TAccessControl::IsPageForm(const THttpRequest& request, const TAccess& access) const {
  const std::string csrf = request.Param("csrf");
  return FromPage(request) && access.kind == TAccessKind::kSession && !access.csrf.empty() &&
         ConstantTimeEquals(csrf, access.csrf);
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

}  // namespace qar::tools
