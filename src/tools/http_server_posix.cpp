#include "tools/http_server.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <stdexcept>

namespace qar::tools {

namespace {

// Hands connections to a few workers; when they and the queue are full the accepting
// thread answers the next connection itself, so no more are accepted meanwhile and
// the rest wait in the system's listen queue.
class TBoundedQueue : public httplib::TaskQueue {
 public:
  TBoundedQueue(int workers, std::size_t maxQueued)
      : pool_(static_cast<std::size_t>(workers)), limit_(static_cast<std::size_t>(workers) + maxQueued) {}
  void enqueue(std::function<void()> fn) override {
    if (inFlight_.load() >= limit_) {
      fn();
      return;
    }
    ++inFlight_;
    pool_.enqueue([this, fn = std::move(fn)] {
      fn();
      --inFlight_;
    });
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  httplib::ThreadPool pool_;
  std::atomic<std::size_t> inFlight_{0};
  std::size_t limit_;
};

THttpRequest ToRequest(const httplib::Request& in) {
  THttpRequest request;
  request.method = in.method;
  request.path = in.path;
  for (const auto& [name, value] : in.params) request.params.emplace(name, value);
  for (const auto& [name, value] : in.headers) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    request.headers.emplace(std::move(lower), value);
  }
  return request;
}

}  // namespace

struct THttpServer::TImpl {
  httplib::Server server;
};

THttpServer::THttpServer(THandler handler, THttpLimits limits) : impl_(std::make_unique<TImpl>()) {
  httplib::Server& server = impl_->server;
  server.new_task_queue = [limits] { return new TBoundedQueue(limits.workers, limits.maxQueued); };
  server.set_payload_max_length(limits.maxBodyBytes);
  server.set_read_timeout(limits.readTimeout);
  server.set_write_timeout(limits.writeTimeout);
  server.set_keep_alive_max_count(static_cast<std::size_t>(limits.keepAliveRequests));
  server.set_keep_alive_timeout(2);
  const auto answer = [handler, limits](const httplib::Request& in, httplib::Response& out) {
    THttpResponse response;
    if (in.target.size() > limits.maxUriBytes) {
      response.status = 414;
      response.body = "The address is too long.\n";
      response.contentType = "text/plain; charset=utf-8";
      response.headers = SecurityHeaders();
    } else {
      response = handler(ToRequest(in));
    }
    out.status = response.status;
    for (const auto& [name, value] : response.headers) out.set_header(name, value);
    out.set_content(response.body, response.contentType);
  };
  server.Get(".*", answer);
  server.Post(".*", answer);
  server.Put(".*", answer);
  server.Delete(".*", answer);
  server.Patch(".*", answer);
  server.Options(".*", answer);
}

THttpServer::~THttpServer() { Stop(); }

int THttpServer::Listen(const std::string& host, int port) {
  httplib::Server& server = impl_->server;
  const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) +
                             " (the address is not this machine's, or the port is taken)");
  }
  return bound;
}

bool THttpServer::Serve() { return impl_->server.listen_after_bind(); }

void THttpServer::Stop() { impl_->server.stop(); }

}  // namespace qar::tools
