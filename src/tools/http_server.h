// The status page's HTTP transport: a bounded server that hands parsed requests to a handler.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "tools/http_message.h"

namespace qar::tools {

// What clients can make the server hold. The defaults leave room for 16 open pages
// refreshing every 2 s and 8 clients that send their requests a line at a time.
struct THttpLimits {
  std::size_t maxBodyBytes = 16 * 1024;       // a cancel form is a few dozen bytes
  std::size_t maxUriBytes = 4096;
  std::size_t maxHeaderLineBytes = 8 * 1024;  // POSIX; http.sys keeps its own limits
  std::size_t maxHeaderBytes = 64 * 1024;     // POSIX
  // POSIX: the request line, the headers and the body must all have arrived within
  // this time of the request's first byte (of the connection, for its first request),
  // however the client paces them; past it the client gets 408.
  std::chrono::milliseconds requestDeadline{5000};
  // POSIX: an idle kept-alive connection is closed after this; shorter than the
  // page's 2 s refresh, so an open page does not keep a connection between refreshes.
  std::chrono::milliseconds keepAliveIdle{1000};
  std::chrono::milliseconds writeTimeout{5000};  // a client must have taken its whole answer by then
  int workers = 8;                               // requests answered at once
  std::size_t maxConnections = 256;              // POSIX: open at once, of every client
  std::size_t maxConnectionsPerAddress = 48;     // POSIX: of one client address
  int keepAliveRequests = 100;                   // POSIX: requests on one connection
};

// Usage: THttpServer server(handler, limits); int port = server.Listen("127.0.0.1", 0);
// then Serve() blocks until Stop() is called from another thread.
// POSIX: one thread accepts connections, reads each request (head and body) under the
// limits and writes each answer, never blocking on a client; complete requests go to
// the workers, which parse and answer them with the Debian-packaged cpp-httplib
// (built, so its compiled-in limits cannot be changed) and hand the answer back. A
// waiting, slow or idle client thus holds a buffer, never a worker.
// Windows: the system's HTTP server, http.sys, which reads and parses the requests;
// `workers` requests are outstanding at once, each answer is sent within
// writeTimeout or cancelled, and a Host it was not given is refused by http.sys.
class THttpServer {
 public:
  using THandler = std::function<THttpResponse(const THttpRequest&)>;
  THttpServer(THandler handler, THttpLimits limits);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds `address`, a numeric IPv4 or IPv6 address; port 0 takes a free port.
  // Returns the port bound. Raises std::runtime_error saying why when the address
  // cannot be bound.
  int Listen(const std::string& address, int port);
  // Answers requests until Stop(); returns false when serving failed.
  bool Serve();
  // Makes Serve() return; callable from any thread, also before Serve().
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace qar::tools
