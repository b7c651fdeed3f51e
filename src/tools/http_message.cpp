#include "tools/http_message.h"

namespace qar::tools {

namespace {

std::string Found(const std::map<std::string, std::string>& map, const std::string& key) {
  const auto found = map.find(key);
  return found == map.end() ? std::string() : found->second;
}

}  // namespace

std::string THttpRequest::Header(const std::string& lowerName) const { return Found(headers, lowerName); }

std::string THttpRequest::Param(const std::string& name) const { return Found(params, name); }

THttpHeaders SecurityHeaders() {
  // The referrer goes to the page's own addresses only: a form's POST then carries the
  // page's Origin, which the anti-forgery check asks for ("no-referrer" would make it "null").
  return {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'; form-action 'self'"},
          {"X-Content-Type-Options", "nosniff"},
          {"Referrer-Policy", "same-origin"},
          {"X-Frame-Options", "DENY"},
          {"Cache-Control", "no-store"}};
}

THttpResponse TransportAnswer(int status, std::string_view text) {
  THttpResponse response;
  response.status = status;
  response.contentType = "text/plain; charset=utf-8";
  response.body = std::string(text) + "\n";
  response.headers = SecurityHeaders();
  return response;
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 414: return "URI Too Long";
    case 421: return "Misdirected Request";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return status < 300 ? "OK" : status < 400 ? "Redirect" : status < 500 ? "Client Error" : "Server Error";
  }
}

std::string UrlEncoded(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

}  // namespace qar::tools
