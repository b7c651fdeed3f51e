#include "tools/http_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "tools/http_head.h"

namespace qar::tools {

namespace {

using TClock = std::chrono::steady_clock;

// How long, and how much of, a refused connection is still read (and dropped) after
// its answer, so that a client that stops sending sees the answer rather than a reset;
// one that keeps sending is reset soon.
constexpr std::chrono::milliseconds kLinger{1000};
constexpr std::size_t kLingerBytes = 256 * 1024;
constexpr std::size_t kReadChunk = 16 * 1024;

class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TFd& operator=(TFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int Milliseconds(TClock::duration d) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return static_cast<int>(std::clamp<std::int64_t>(ms, 0, 60000));
}

// An answer as bytes on the wire, for what the transport answers by itself.
std::string Wire(const THttpResponse& response) {
  std::string wire = "HTTP/1.1 " + std::to_string(response.status) + " " + std::string(ReasonPhrase(response.status)) +
                     "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n";
  for (const auto& [name, value] : response.headers) wire += name + ": " + value + "\r\n";
  return wire + "\r\n" + response.body;
}

std::string_view RefusalText(int status) {
  switch (status) {
    case 400: return "The request's Content-Length is not one number.";
    case 408: return "The request did not arrive in time.";
    case 411: return "A request with a body must give its Content-Length.";
    case 413: return "The request is too large.";
    case 414: return "The address is too long.";
    case 431: return "The request's header lines are too large.";
    default: return "Too many connections: try again later.";
  }
}

std::string NumericAddress(const sockaddr* address, socklen_t length, int& port) {
  char host[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  if (getnameinfo(address, length, host, sizeof host, service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return {};
  port = std::atoi(service);
  return host;
}

// One client connection. The accepting thread owns it; a worker borrows it while it
// answers one request, and touches nothing else.
struct TConnection {
  enum class TState { kReading, kBusy, kWriting, kDraining, kClosed };
  TConnection(TFd socket, const THttpLimits& limits)
      : fd(std::move(socket)), framer({limits.maxHeaderLineBytes, limits.maxHeaderBytes, limits.maxBodyBytes}) {}
  TFd fd;
  std::string address;
  int port = 0;
  std::string buffer;  // bytes received and not yet answered
  std::string output;  // kWriting: the answer, written from `written` on
  std::size_t written = 0;
  TRequestFramer framer;
  TState state = TState::kReading;
  bool idle = false;  // kept alive, and no byte of its next request yet
  TClock::time_point deadline;
  int served = 0;
  std::size_t dropped = 0;  // kDraining: bytes read and dropped
  bool closeAfter = false;  // set by the worker
};

// A request framed by the accepting thread, read by cpp-httplib's parser from memory;
// the answer is collected for the accepting thread to send.
class TBufferedStream final : public httplib::Stream {
 public:
  TBufferedStream(const TConnection& connection, std::string_view request)
      : connection_(connection), request_(request) {}

  bool is_readable() const override { return read_ < request_.size(); }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    const std::size_t n = std::min(size, request_.size() - read_);
    std::memcpy(ptr, request_.data() + read_, n);
    read_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, size_t size) override {
    answer_.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = connection_.address;
    port = connection_.port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    port = 0;
    ip = getsockname(socket(), reinterpret_cast<sockaddr*>(&local), &length) == 0
             ? NumericAddress(reinterpret_cast<sockaddr*>(&local), length, port)
             : std::string();
  }
  socket_t socket() const override { return connection_.fd.Get(); }

  std::string TakeAnswer() { return std::move(answer_); }

 private:
  const TConnection& connection_;
  std::string_view request_;
  std::size_t read_ = 0;
  std::string answer_;
};

// cpp-httplib's request parser and answer writer, fed one framed request at a time.
class TRequestParser : public httplib::Server {
 public:
  bool Answer(httplib::Stream& stream, bool closeConnection, bool& connectionClosed) {
    return process_request(stream, closeConnection, connectionClosed, nullptr);
  }
};

THttpRequest ToRequest(const httplib::Request& in) {
  THttpRequest request;
  request.method = in.method;
  request.path = in.path;
  request.remoteAddress = in.remote_addr;
  for (const auto& [name, value] : in.params) request.params.emplace(name, value);
  for (const auto& [name, value] : in.headers) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    // The parser's own notes about the connection, not the client's headers.
    if (lower == "remote_addr" || lower == "remote_port" || lower == "local_addr" || lower == "local_port") continue;
    request.headers.emplace(std::move(lower), value);
  }
  return request;
}

}  // namespace

struct THttpServer::TImpl {
  THttpLimits limits;
  TRequestParser parser;
  TFd listener;
  TFd wakeRead, wakeWrite;
  std::atomic<bool> stopping{false};

  // The accepting thread's: every connection and how many each address holds.
  std::vector<std::unique_ptr<TConnection>> connections;
  std::map<std::string, std::size_t> perAddress;
  TClock::time_point acceptPausedUntil;

  // Shared with the workers.
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<TConnection*> queued;    // complete requests waiting for a worker
  std::vector<TConnection*> returned;  // answered, back to the accepting thread

  void Wake() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(wakeWrite.Get(), &byte, 1);
  }
  void Work();
  void Accept();
  void Read(TConnection& connection);
  void Write(TConnection& connection);
  void Examine(TConnection& connection);
  void Refuse(TConnection& connection, int status);
  void Close(TConnection& connection);
  void TakeReturned();
};

void THttpServer::TImpl::Work() {
  for (;;) {
    TConnection* connection = nullptr;
    {
      std::unique_lock lock(mutex);
      ready.wait(lock, [this] { return stopping || !queued.empty(); });
      if (stopping) return;
      connection = queued.front();
      queued.pop_front();
    }
    const std::size_t size = connection->framer.RequestSize();
    TBufferedStream stream(*connection, std::string_view(connection->buffer).substr(0, size));
    const bool last = ++connection->served >= limits.keepAliveRequests || stopping;
    bool closed = false;
    const bool parsed = parser.Answer(stream, last, closed);
    connection->output = stream.TakeAnswer();
    connection->closeAfter = !parsed || closed || last;
    connection->buffer.erase(0, size);
    connection->framer.Reset();
    {
      std::lock_guard lock(mutex);
      returned.push_back(connection);
    }
    Wake();
  }
}

void THttpServer::TImpl::Close(TConnection& connection) {
  connection.fd.Reset();
  connection.state = TConnection::TState::kClosed;
  if (const auto found = perAddress.find(connection.address); found != perAddress.end() && --found->second == 0)
    perAddress.erase(found);
}

void THttpServer::TImpl::Refuse(TConnection& connection, int status) {
  const std::string wire = Wire(TransportAnswer(status, RefusalText(status)));
  [[maybe_unused]] const ssize_t sent = send(connection.fd.Get(), wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(connection.fd.Get(), SHUT_WR);
  std::string().swap(connection.buffer);
  connection.state = TConnection::TState::kDraining;
  connection.deadline = TClock::now() + kLinger;
}

// Decides what the bytes read so far make: more to wait for, a request for a worker,
// or a refusal.
void THttpServer::TImpl::Examine(TConnection& connection) {
  const THeadVerdict verdict = connection.framer.Scan(connection.buffer);
  if (verdict == THeadVerdict::kIncomplete) return;
  if (verdict != THeadVerdict::kComplete) {
    Refuse(connection, StatusOf(verdict));
    return;
  }
  connection.state = TConnection::TState::kBusy;
  {
    std::lock_guard lock(mutex);
    queued.push_back(&connection);
  }
  ready.notify_one();
}

void THttpServer::TImpl::Read(TConnection& connection) {
  if (connection.state == TConnection::TState::kDraining) {
    char discard[4096];
    const ssize_t n = recv(connection.fd.Get(), discard, sizeof discard, 0);
    connection.dropped += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
    if (n == 0 || connection.dropped > kLingerBytes || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
      Close(connection);
    return;
  }
  // One request's head and body, and no more: a verdict never needs more.
  const std::size_t room = limits.maxHeaderBytes + limits.maxBodyBytes + 1 - connection.buffer.size();
  const std::size_t old = connection.buffer.size();
  connection.buffer.resize(old + std::min(room, kReadChunk));
  const ssize_t n = recv(connection.fd.Get(), connection.buffer.data() + old, connection.buffer.size() - old, 0);
  connection.buffer.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    Close(connection);
    return;
  }
  if (connection.idle) {
    connection.idle = false;
    connection.deadline = TClock::now() + limits.requestDeadline;
  }
  Examine(connection);
}

void THttpServer::TImpl::Accept() {
  while (connections.size() < limits.maxConnections) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    TFd fd(accept4(listener.Get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd.Get() < 0) {
      // Out of descriptors: the waiting connections stay in the backlog for a while.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
        acceptPausedUntil = TClock::now() + std::chrono::milliseconds(100);
      return;
    }
    auto connection = std::make_unique<TConnection>(std::move(fd), limits);
    connection->address = NumericAddress(reinterpret_cast<sockaddr*>(&peer), length, connection->port);
    std::size_t& held = perAddress[connection->address];
    ++held;
    if (held > limits.maxConnectionsPerAddress) {
      Refuse(*connection, 503);
      Close(*connection);
      continue;
    }
    connection->deadline = TClock::now() + limits.requestDeadline;
    connections.push_back(std::move(connection));
  }
}

void THttpServer::TImpl::TakeReturned() {
  char drain[64];
  while (read(wakeRead.Get(), drain, sizeof drain) > 0) {
  }
  std::vector<TConnection*> back;
  {
    std::lock_guard lock(mutex);
    back.swap(returned);
  }
  for (TConnection* connection : back) {
    connection->state = TConnection::TState::kWriting;
    connection->deadline = TClock::now() + limits.writeTimeout;
    Write(*connection);
  }
}

// Sends what the socket takes of the answer; once all of it is sent, the connection
// waits for its next request, or is closed.
void THttpServer::TImpl::Write(TConnection& connection) {
  while (connection.written < connection.output.size()) {
    const ssize_t n = send(connection.fd.Get(), connection.output.data() + connection.written,
                           connection.output.size() - connection.written, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      connection.written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) Close(connection);
      return;
    }
  }
  std::string().swap(connection.output);
  connection.written = 0;
  if (connection.closeAfter) {
    Close(connection);
    return;
  }
  connection.state = TConnection::TState::kReading;
  if (connection.buffer.empty()) {
    std::string().swap(connection.buffer);
    connection.idle = true;
    connection.deadline = TClock::now() + limits.keepAliveIdle;
  } else {  // the client sent its next request along
    connection.deadline = TClock::now() + limits.requestDeadline;
    Examine(connection);
  }
}

THttpServer::THttpServer(THandler handler, THttpLimits limits) : impl_(std::make_unique<TImpl>()) {
  impl_->limits = limits;
  int wake[2];
  if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
  impl_->wakeRead = TFd(wake[0]);
  impl_->wakeWrite = TFd(wake[1]);

  httplib::Server& parser = impl_->parser;
  parser.set_payload_max_length(limits.maxBodyBytes);
  parser.set_keep_alive_max_count(static_cast<std::size_t>(limits.keepAliveRequests));
  // What the answers' Keep-Alive header says; the accepting thread enforces keepAliveIdle.
  parser.set_keep_alive_timeout(std::max<time_t>(1, std::chrono::ceil<std::chrono::seconds>(limits.keepAliveIdle).count()));
  const auto answer = [handler = std::move(handler), limits](const httplib::Request& in, httplib::Response& out) {
    const THttpResponse response = in.target.size() > limits.maxUriBytes ? TransportAnswer(414, RefusalText(414))
                                                                         : handler(ToRequest(in));
    out.status = response.status;
    for (const auto& [name, value] : response.headers) out.set_header(name, value);
    out.set_content(response.body, response.contentType);
  };
  parser.Get(".*", answer);
  parser.Post(".*", answer);
  parser.Put(".*", answer);
  parser.Delete(".*", answer);
  parser.Patch(".*", answer);
  parser.Options(".*", answer);
}

THttpServer::~THttpServer() { Stop(); }

int THttpServer::Listen(const std::string& address, int port) {
  const std::string where = address + " port " + std::to_string(port);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  if (const int error = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found); error != 0)
    throw std::runtime_error("cannot listen on " + where + ": " + gai_strerror(error));
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  TFd fd(socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int yes = 1;
  if (fd.Get() < 0 || setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
      (found->ai_family == AF_INET6 && setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes) != 0) ||
      bind(fd.Get(), found->ai_addr, found->ai_addrlen) != 0 || listen(fd.Get(), 64) != 0) {
    throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(errno) +
                             " (the address is not this machine's, or the port is taken)");
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  int boundPort = 0;
  if (getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
      NumericAddress(reinterpret_cast<sockaddr*>(&bound), length, boundPort).empty())
    throw std::runtime_error("cannot listen on " + where + ": the bound port cannot be read");
  impl_->listener = std::move(fd);
  return boundPort;
}

bool THttpServer::Serve() {
  TImpl& impl = *impl_;
  if (impl.listener.Get() < 0) return false;
  std::vector<std::thread> workers;
  for (int i = 0; i < std::max(1, impl.limits.workers); ++i) workers.emplace_back([&impl] { impl.Work(); });

  std::vector<pollfd> polled;
  std::vector<TConnection*> polledConnections;
  bool served = true;
  while (!impl.stopping) {
    const TClock::time_point now = TClock::now();
    for (auto& connection : impl.connections) {
      if (connection->state == TConnection::TState::kReading && now >= connection->deadline) {
        if (connection->idle || connection->buffer.empty()) {
          impl.Close(*connection);
        } else {
          impl.Refuse(*connection, 408);
        }
      } else if ((connection->state == TConnection::TState::kDraining || connection->state == TConnection::TState::kWriting) &&
                 now >= connection->deadline) {
        impl.Close(*connection);  // a client that reads its answer too slowly loses it
      }
    }
    std::erase_if(impl.connections, [](const auto& c) { return c->state == TConnection::TState::kClosed; });

    polled.assign({{impl.wakeRead.Get(), POLLIN, 0}});
    const bool accepting = impl.connections.size() < impl.limits.maxConnections && now >= impl.acceptPausedUntil;
    polled.push_back({accepting ? impl.listener.Get() : -1, POLLIN, 0});
    polledConnections.clear();
    TClock::time_point next = now + std::chrono::seconds(1);
    if (!accepting) next = std::min(next, std::max(impl.acceptPausedUntil, now + std::chrono::milliseconds(10)));
    for (auto& connection : impl.connections) {
      if (connection->state == TConnection::TState::kBusy) continue;
      const bool writing = connection->state == TConnection::TState::kWriting;
      polled.push_back({connection->fd.Get(), static_cast<short>(writing ? POLLOUT : POLLIN), 0});
      polledConnections.push_back(connection.get());
      next = std::min(next, connection->deadline);
    }
    if (poll(polled.data(), polled.size(), Milliseconds(next - now)) < 0 && errno != EINTR) {
      served = false;
      break;
    }
    if ((polled[0].revents & POLLIN) != 0) impl.TakeReturned();
    for (std::size_t i = 0; i < polledConnections.size(); ++i) {
      TConnection& connection = *polledConnections[i];
      if ((polled[i + 2].revents & (POLLIN | POLLOUT | POLLHUP | POLLERR)) == 0) continue;
      if (connection.state == TConnection::TState::kWriting) {
        impl.Write(connection);
      } else if (connection.state == TConnection::TState::kReading || connection.state == TConnection::TState::kDraining) {
        impl.Read(connection);
      }
    }
    if ((polled[1].revents & POLLIN) != 0) impl.Accept();
  }

  impl.stopping = true;
  impl.ready.notify_all();
  for (std::thread& worker : workers) worker.join();
  impl.connections.clear();
  impl.perAddress.clear();
  impl.queued.clear();
  impl.returned.clear();
  return served;
}

void THttpServer::Stop() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->ready.notify_all();
  impl_->Wake();
}

}  // namespace qar::tools
