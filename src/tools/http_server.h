// The status page's HTTP transport: a bounded server that hands parsed requests to a handler.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "tools/status_site.h"

namespace qar::tools {

// What one client can make the server hold.
struct THttpLimits {
  std::size_t maxBodyBytes = 16 * 1024;  // a cancel form is a few dozen bytes
  std::size_t maxUriBytes = 4096;
  int workers = 4;                       // requests answered at once
  std::size_t maxQueued = 16;            // connections waiting for a worker; past it, accepting waits
  std::chrono::seconds readTimeout{5};
  std::chrono::seconds writeTimeout{5};
  int keepAliveRequests = 20;
};

// Usage: THttpServer server(handler, limits); int port = server.Listen("127.0.0.1", 0);
// then Serve() blocks until Stop() is called from another thread.
// POSIX: the Debian-packaged cpp-httplib (Debian ships it built, not as a header a
// mingw build could compile). Windows: the system's HTTP server, http.sys, which
// parses the requests; it answers one request at a time, and a Host it was not
// given is refused by http.sys itself.
class THttpServer {
 public:
  using THandler = std::function<THttpResponse(const THttpRequest&)>;
  THttpServer(THandler handler, THttpLimits limits);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds the address; port 0 takes a free port. Returns the port bound. Raises
  // std::runtime_error saying why when the address cannot be bound.
  int Listen(const std::string& host, int port);
  // Answers requests until Stop(); returns false when serving failed.
  bool Serve();
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace qar::tools
