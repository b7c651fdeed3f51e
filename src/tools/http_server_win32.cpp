#include "tools/http_server.h"

// The system's HTTP server (http.sys) reads and parses the requests; this file only
// carries them to the handler and the answers back, several at a time.
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
#include <string_view>
#include <thread>
#include <vector>

#include "platform/unique_handle_win32.h"

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
  platform::UniqueHandle stopEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};

  // One of the outstanding requests: receives, answers, sends, again.
  bool Work();
  THttpResponse Answer(const HTTP_REQUEST& request) const;
  // Waits for an overlapped call on the queue; after `timeout`, or once stopping, it is
  // cancelled. The call's buffers stay ours until it has completed either way.
  ULONG Complete(ULONG started, OVERLAPPED& overlapped, DWORD timeout, bool stopEnds) const;
};

ULONG THttpServer::TImpl::Complete(ULONG started, OVERLAPPED& overlapped, DWORD timeout, bool stopEnds) const {
  if (started != ERROR_IO_PENDING) return started;
  const HANDLE waits[2] = {overlapped.hEvent, stopEvent.Get()};
  if (WaitForMultipleObjects(stopEnds ? 2 : 1, waits, FALSE, timeout) != WAIT_OBJECT_0) CancelIoEx(queue, &overlapped);
  DWORD transferred = 0;
  return GetOverlappedResult(queue, &overlapped, &transferred, TRUE) ? NO_ERROR : GetLastError();
}

THttpResponse THttpServer::TImpl::Answer(const HTTP_REQUEST& request) const {
  THttpRequest in;
  in.method = request.Verb == HttpVerbUnknown && request.pUnknownVerb ? std::string(request.pUnknownVerb, request.UnknownVerbLength)
                                                                      : VerbName(request.Verb);
  const std::string_view raw(request.pRawUrl, request.RawUrlLength);
  const std::size_t question = raw.find('?');
  in.path = Decoded(raw.substr(0, question), false);
  if (question != std::string_view::npos) AddFields(raw.substr(question + 1), in.params);
  const auto known = [&](HTTP_HEADER_ID header, const char* name) {
    const HTTP_KNOWN_HEADER& value = request.Headers.KnownHeaders[header];
    if (value.pRawValue != nullptr) in.headers.emplace(name, std::string(value.pRawValue, value.RawValueLength));
  };
  known(HttpHeaderHost, "host");
  known(HttpHeaderCookie, "cookie");
  known(HttpHeaderContentType, "content-type");
  known(HttpHeaderAuthorization, "authorization");
  known(HttpHeaderReferer, "referer");
  for (USHORT i = 0; i < request.Headers.UnknownHeaderCount; ++i) {
    const HTTP_UNKNOWN_HEADER& header = request.Headers.pUnknownHeaders[i];
    in.headers.emplace(Lower(std::string(header.pName, header.NameLength)), std::string(header.pRawValue, header.RawValueLength));
  }
  if (request.Address.pRemoteAddress != nullptr) {
    char numeric[NI_MAXHOST] = {};
    const int length = request.Address.pRemoteAddress->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (getnameinfo(request.Address.pRemoteAddress, length, numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST) == 0)
      in.remoteAddress = numeric;
  }
  std::string body;
  for (USHORT i = 0; i < request.EntityChunkCount; ++i) {
    const HTTP_DATA_CHUNK& chunk = request.pEntityChunks[i];
    if (chunk.DataChunkType == HttpDataChunkFromMemory)
      body.append(static_cast<const char*>(chunk.FromMemory.pBuffer), chunk.FromMemory.BufferLength);
  }
  if ((request.Flags & HTTP_REQUEST_FLAG_MORE_ENTITY_BODY_EXISTS) != 0 || body.size() > limits.maxBodyBytes)
    return TransportAnswer(413, "The request is too large.");
  if (raw.size() > limits.maxUriBytes) return TransportAnswer(414, "The address is too long.");
  if (in.headers["content-type"].starts_with("application/x-www-form-urlencoded")) AddFields(body, in.params);
  return handler(in);
}

bool THttpServer::TImpl::Work() {
  std::vector<char> buffer(sizeof(HTTP_REQUEST) + limits.maxUriBytes + limits.maxBodyBytes + 16 * 1024);
  auto* request = reinterpret_cast<HTTP_REQUEST*>(buffer.data());
  const platform::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr);
  if (!event.Valid()) return false;
  const DWORD sendTimeout = static_cast<DWORD>(limits.writeTimeout.count());
  while (!stopping) {
    OVERLAPPED receiving{};
    receiving.hEvent = event.Get();
    ResetEvent(event.Get());
    const ULONG received = Complete(HttpReceiveHttpRequest(queue, HTTP_NULL_ID, HTTP_RECEIVE_REQUEST_FLAG_COPY_BODY, request,
                                                           static_cast<ULONG>(buffer.size()), nullptr, &receiving),
                                    receiving, INFINITE, true);
    if (stopping) return true;
    THttpResponse response;
    if (received == ERROR_MORE_DATA) {
      response = TransportAnswer(413, "The request is too large.");
    } else if (received == ERROR_CONNECTION_INVALID || received == ERROR_OPERATION_ABORTED) {
      continue;  // the client left before its request was read
    } else if (received != NO_ERROR) {
      return false;
    } else {
      response = Answer(*request);
    }

    const std::string reason(ReasonPhrase(response.status));
    HTTP_RESPONSE out{};
    out.StatusCode = static_cast<USHORT>(response.status);
    out.pReason = reason.c_str();
    out.ReasonLength = static_cast<USHORT>(reason.size());
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
    // A client that stops reading keeps its answer for writeTimeout at most; then the
    // send is cancelled, which ends the connection.
    OVERLAPPED sending{};
    sending.hEvent = event.Get();
    ResetEvent(event.Get());
    Complete(HttpSendHttpResponse(queue, request->RequestId, 0, &out, nullptr, nullptr, nullptr, 0, &sending, nullptr),
             sending, sendTimeout, false);
  }
  return true;
}

THttpServer::THttpServer(THandler handler, THttpLimits limits) : impl_(std::make_unique<TImpl>()) {
  impl_->handler = std::move(handler);
  impl_->limits = limits;
  if (!impl_->stopEvent.Valid()) throw std::runtime_error("no event for stopping the server");
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

int THttpServer::Listen(const std::string& address, int port) {
  WSADATA data;
  impl_->winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (port == 0) port = FreePort(address);
  const ULONG init = HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_SERVER, nullptr);
  if (init != NO_ERROR) throw std::runtime_error("the system's HTTP server cannot be used (error " + std::to_string(init) + ")");
  if (const ULONG created = HttpCreateHttpHandle(&impl_->queue, 0); created != NO_ERROR) {
    impl_->queue = nullptr;
    HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
    throw std::runtime_error("the system's HTTP server gives no request queue (error " + std::to_string(created) + ")");
  }
  const std::string shown = address.find(':') != std::string::npos ? "[" + address + "]" : address;
  const std::string url = "http://" + shown + ":" + std::to_string(port) + "/";
  impl_->url.assign(url.begin(), url.end());
  if (const ULONG added = HttpAddUrl(impl_->queue, impl_->url.c_str(), nullptr); added != NO_ERROR) {
    throw std::runtime_error("cannot listen on " + url + " (error " + std::to_string(added) +
                             (added == ERROR_ACCESS_DENIED ? ": reserve it with netsh http add urlacl, or run as an administrator)" : ")"));
  }
  return port;
}

bool THttpServer::Serve() {
  if (impl_->queue == nullptr) return false;
  // Several requests outstanding at once: a slow answer, or a client that reads its
  // answer slowly, holds one of them.
  std::atomic<bool> failed{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < std::max(1, impl_->limits.workers); ++i) {
    workers.emplace_back([this, &failed] {
      if (!impl_->Work() && !impl_->stopping) {
        failed = true;
        Stop();
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  return !failed;
}

void THttpServer::Stop() {
  impl_->stopping = true;
  SetEvent(impl_->stopEvent.Get());
}

}  // namespace qar::tools
