#include "tools/http_server.h"

// The system's HTTP server (http.sys) parses the requests; this file only carries
// them to the handler and the answer back.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <http.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

namespace qar::tools {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding of a query or form field ('+' is a blank there).
std::string Decoded(std::string_view text, bool plusIsBlank) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += plusIsBlank && text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

void AddFields(std::string_view text, std::map<std::string, std::string>& params) {
  while (!text.empty()) {
    const std::string_view pair = text.substr(0, text.find('&'));
    text.remove_prefix(std::min(text.size(), pair.size() + 1));
    const std::size_t eq = pair.find('=');
    params.emplace(Decoded(pair.substr(0, eq), true), eq == std::string_view::npos ? std::string() : Decoded(pair.substr(eq + 1), true));
  }
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

const char* VerbName(HTTP_VERB verb) {
  switch (verb) {
    case HttpVerbGET: return "GET";
    case HttpVerbHEAD: return "HEAD";
    case HttpVerbPOST: return "POST";
    case HttpVerbPUT: return "PUT";
    case HttpVerbDELETE: return "DELETE";
    case HttpVerbOPTIONS: return "OPTIONS";
    default: return "OTHER";
  }
}

// A free loopback port, for Listen(host, 0): http.sys takes only named ports.
int FreePort(const std::string& host) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), "0", &hints, &found) != 0) throw std::runtime_error("cannot resolve " + host);
  SOCKET s = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
  int port = -1;
  if (s != INVALID_SOCKET && bind(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0) {
    sockaddr_storage bound{};
    int length = sizeof bound;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
      port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  }
  if (s != INVALID_SOCKET) closesocket(s);
  freeaddrinfo(found);
  if (port <= 0) throw std::runtime_error("no free port on " + host);
  return port;
}

}  // namespace

struct THttpServer::TImpl {
  THandler handler;
  THttpLimits limits;
  HANDLE queue = nullptr;
  std::wstring url;
  bool winsock = false;
  std::atomic<bool> stopping{false};
};

THttpServer::THttpServer(THandler handler, THttpLimits limits) : impl_(std::make_unique<TImpl>()) {
  impl_->handler = std::move(handler);
  impl_->limits = limits;
}

THttpServer::~THttpServer() {
  Stop();
  if (impl_->queue != nullptr) {
    HttpRemoveUrl(impl_->queue, impl_->url.c_str());
    CloseHandle(impl_->queue);
    HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
  }
  if (impl_->winsock) WSACleanup();
}

int THttpServer::Listen(const std::string& host, int port) {
  WSADATA data;
  impl_->winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (port == 0) port = FreePort(host);
  const ULONG init = HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_SERVER, nullptr);
  if (init != NO_ERROR) throw std::runtime_error("the system's HTTP server cannot be used (error " + std::to_string(init) + ")");
  if (const ULONG created = HttpCreateHttpHandle(&impl_->queue, 0); created != NO_ERROR) {
    impl_->queue = nullptr;
    HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
    throw std::runtime_error("the system's HTTP server gives no request queue (error " + std::to_string(created) + ")");
  }
  const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  const std::string url = "http://" + shown + ":" + std::to_string(port) + "/";
  impl_->url.assign(url.begin(), url.end());
  if (const ULONG added = HttpAddUrl(impl_->queue, impl_->url.c_str(), nullptr); added != NO_ERROR) {
    throw std::runtime_error("cannot listen on " + url + " (error " + std::to_string(added) +
                             (added == ERROR_ACCESS_DENIED ? ": reserve it with netsh http add urlacl, or run as an administrator)" : ")"));
  }
  return port;
}

bool THttpServer::Serve() {
  // One request at a time: the answers are short, and a client can hold no more.
  std::vector<char> buffer(sizeof(HTTP_REQUEST) + impl_->limits.maxUriBytes + impl_->limits.maxBodyBytes + 16 * 1024);
  auto* request = reinterpret_cast<HTTP_REQUEST*>(buffer.data());
  while (!impl_->stopping) {
    ULONG received = 0;
    HTTP_REQUEST_ID id = HTTP_NULL_ID;
    ULONG result = HttpReceiveHttpRequest(impl_->queue, id, HTTP_RECEIVE_REQUEST_FLAG_COPY_BODY, request,
                                          static_cast<ULONG>(buffer.size()), &received, nullptr);
    THttpResponse response;
    if (result == ERROR_MORE_DATA) {
      response.status = 413;
      response.body = "The request is too large.\n";
    } else if (result != NO_ERROR) {
      return impl_->stopping;
    } else {
      THttpRequest in;
      in.method = request->Verb == HttpVerbUnknown && request->pUnknownVerb ? std::string(request->pUnknownVerb, request->UnknownVerbLength)
                                                                             : VerbName(request->Verb);
      const std::string_view raw(request->pRawUrl, request->RawUrlLength);
      const std::size_t question = raw.find('?');
      in.path = Decoded(raw.substr(0, question), false);
      if (question != std::string_view::npos) AddFields(raw.substr(question + 1), in.params);
      const auto known = [&](HTTP_HEADER_ID header, const char* name) {
        const HTTP_KNOWN_HEADER& value = request->Headers.KnownHeaders[header];
        if (value.pRawValue != nullptr) in.headers.emplace(name, std::string(value.pRawValue, value.RawValueLength));
      };
      known(HttpHeaderHost, "host");
      known(HttpHeaderCookie, "cookie");
      known(HttpHeaderContentType, "content-type");
      for (USHORT i = 0; i < request->Headers.UnknownHeaderCount; ++i) {
        const HTTP_UNKNOWN_HEADER& header = request->Headers.pUnknownHeaders[i];
        in.headers.emplace(Lower(std::string(header.pName, header.NameLength)), std::string(header.pRawValue, header.RawValueLength));
      }
      std::string body;
      for (USHORT i = 0; i < request->EntityChunkCount; ++i) {
        const HTTP_DATA_CHUNK& chunk = request->pEntityChunks[i];
        if (chunk.DataChunkType == HttpDataChunkFromMemory)
          body.append(static_cast<const char*>(chunk.FromMemory.pBuffer), chunk.FromMemory.BufferLength);
      }
      if ((request->Flags & HTTP_REQUEST_FLAG_MORE_ENTITY_BODY_EXISTS) != 0 || body.size() > impl_->limits.maxBodyBytes ||
          raw.size() > impl_->limits.maxUriBytes) {
        response.status = 413;
        response.body = "The request is too large.\n";
      } else {
        if (in.headers["content-type"].starts_with("application/x-www-form-urlencoded")) AddFields(body, in.params);
        response = impl_->handler(in);
      }
    }
    if (response.status == 413) {
      response.contentType = "text/plain; charset=utf-8";
      response.headers = SecurityHeaders();
    }

    HTTP_RESPONSE out{};
    out.StatusCode = static_cast<USHORT>(response.status);
    out.pReason = response.status < 300 ? "OK" : response.status < 400 ? "See Other" : "Refused";
    out.ReasonLength = static_cast<USHORT>(std::strlen(out.pReason));
    out.Headers.KnownHeaders[HttpHeaderContentType].pRawValue = response.contentType.c_str();
    out.Headers.KnownHeaders[HttpHeaderContentType].RawValueLength = static_cast<USHORT>(response.contentType.size());
    std::vector<HTTP_UNKNOWN_HEADER> extra;
    for (const auto& [name, value] : response.headers) {
      HTTP_UNKNOWN_HEADER header{};
      header.pName = name.c_str();
      header.NameLength = static_cast<USHORT>(name.size());
      header.pRawValue = value.c_str();
      header.RawValueLength = static_cast<USHORT>(value.size());
      extra.push_back(header);
    }
    out.Headers.UnknownHeaderCount = static_cast<USHORT>(extra.size());
    out.Headers.pUnknownHeaders = extra.data();
    HTTP_DATA_CHUNK chunk{};
    chunk.DataChunkType = HttpDataChunkFromMemory;
    chunk.FromMemory.pBuffer = response.body.data();
    chunk.FromMemory.BufferLength = static_cast<ULONG>(response.body.size());
    out.EntityChunkCount = response.body.empty() ? 0 : 1;
    out.pEntityChunks = &chunk;
    ULONG sent = 0;
    HttpSendHttpResponse(impl_->queue, request->RequestId, 0, &out, nullptr, &sent, nullptr, 0, nullptr, nullptr);
  }
  return true;
}

void THttpServer::Stop() {
  impl_->stopping = true;
  if (impl_->queue != nullptr) HttpShutdownRequestQueue(impl_->queue);
}

}  // namespace qar::tools
