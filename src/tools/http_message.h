// The status page's HTTP requests and answers as the transport hands them over, apart from any site.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qar::tools {

// One HTTP request as the transport parsed it.
struct THttpRequest {
  std::string method;  // "GET", "POST", ...
  std::string path;    // decoded, without the query
  std::map<std::string, std::string> params;   // query and form fields (decoded)
  std::map<std::string, std::string> headers;  // lower-case names
  std::string remoteAddress = {};              // the client's numeric address, when the transport knows it

  // The value of header `lowerName` (or of field `name`); empty when absent.
  std::string Header(const std::string& lowerName) const;
  std::string Param(const std::string& name) const;
};

using THttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct THttpResponse {
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  THttpHeaders headers;  // besides the ones every answer gets
};

// The headers every answer carries: no script or style from elsewhere, no sniffing,
// no referrer to another site, no framing, no caching.
THttpHeaders SecurityHeaders();

// An answer the transport gives by itself (a request too large, too slow, too many):
// plain text with the security headers.
THttpResponse TransportAnswer(int status, std::string_view text);

// The reason phrase of a status code ("Request Header Fields Too Large").
std::string_view ReasonPhrase(int status);

// `text` with every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~) as %XX, for a
// query's field names and values.
std::string UrlEncoded(std::string_view text);

}  // namespace qar::tools
