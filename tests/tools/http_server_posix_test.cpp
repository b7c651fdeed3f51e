// The status page's transport on 127.0.0.1 with its real limits, against clients that
// are slow, greedy or many.
#include "tools/http_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "tools/http_head.h"

namespace qar::tools {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// One client connection, read and written a piece at a time.
class TClient {
 public:
  explicit TClient(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const timeval sendBound{2, 0};
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendBound, sizeof sendBound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    open_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TClient() { close(fd_); }
  // False once the server no longer takes what is sent (it closed, or refused).
  bool Send(std::string_view data) {
    while (open_ && !data.empty()) {
      const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) open_ = false;
      if (n > 0) data.remove_prefix(static_cast<std::size_t>(n));
    }
    return open_;
  }
  // The status of the next whole answer within `bound`; 0 when the connection ended
  // first, -1 when nothing whole came in time.
  int Answer(std::chrono::milliseconds bound = 20s) {
    const TClock::time_point end = TClock::now() + bound;
    for (;;) {
      const std::size_t head = in_.find("\r\n\r\n");
      if (head != std::string::npos) {
        const std::size_t length = in_.find("Content-Length: ");
        const std::size_t size = head + 4 + (length < head ? std::stoul(in_.substr(length + 16)) : 0);
        if (in_.size() >= size) {
          const int status = std::stoi(in_.substr(9, 3));
          in_.erase(0, size);
          return status;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TClock::now()).count();
      pollfd readable{fd_, POLLIN, 0};
      if (left < 0 || poll(&readable, 1, static_cast<int>(left)) <= 0) return -1;
      char buffer[16384];
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return 0;
      in_.append(buffer, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  bool open_ = false;
  std::string in_;
};

constexpr std::string_view kGet = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

class HttpServerPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    port_ = server_.Listen("127.0.0.1", 0);
    serving_ = std::thread([this] { server_.Serve(); });
  }
  void TearDown() override {
    server_.Stop();
    serving_.join();
  }
  // The time `client` takes for one GET, which must be answered 200.
  static std::chrono::milliseconds Timed(TClient& client) {
    const TClock::time_point start = TClock::now();
    EXPECT_TRUE(client.Send(kGet));
    EXPECT_EQ(client.Answer(), 200);
    return std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start);
  }
  static long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
    return 0;
  }

  THttpServer server_{[](const THttpRequest&) { return THttpResponse{200, "text/plain", "ok\n", {}}; }, THttpLimits{}};
  int port_ = 0;
  std::thread serving_;
};

// Clients that send their headers a line at a time hold no worker, and are cut off
// at the request's deadline however steadily they keep sending.
TEST_F(HttpServerPosix, SlowClientsDoNotKeepOthersWaiting) {
  std::atomic<int> cutOff{0}, wrongEnds{0};
  const TClock::time_point started = TClock::now();
  std::thread slow([this, &cutOff, &wrongEnds] {
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 8; ++i) clients.push_back(std::make_unique<TClient>(port_));
    for (auto& client : clients) client->Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    for (int round = 0; round < 100 && !clients.empty(); ++round, std::this_thread::sleep_for(300ms)) {
      std::erase_if(clients, [&](const auto& client) {
        if (client->Send("X-Slow: 1\r\n") && client->Answer(0ms) == -1) return false;
        const int end = client->Answer(1s);  // 408, or the close after it
        wrongEnds += end != 408 && end != 0;
        ++cutOff;
        return true;
      });
    }
  });
  std::this_thread::sleep_for(1s);
  TClient holder(port_);
  const std::chrono::milliseconds prompt = Timed(holder);
  EXPECT_EQ(cutOff, 0) << "answered only once the slow clients were cut off";
  slow.join();
  const auto end = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - started);
  std::cout << "answered beside 8 slow clients in " << prompt.count() << " ms; they were cut off after " << end.count() << " ms\n";
  EXPECT_EQ(cutOff, 8);
  EXPECT_EQ(wrongEnds, 0);
  EXPECT_LT(end, 20s);
}

// Neither one long header line nor 50 MB of short ones is held: the client is refused
// (431) and the server does not grow.
TEST_F(HttpServerPosix, OversizedHeadersAreRefusedWithoutGrowing) {
  TClient longLine(port_);
  ASSERT_TRUE(longLine.Send("GET / HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n"));
  EXPECT_EQ(longLine.Answer(), 431);

  const long before = ResidentKilobytes();
  TClient flood(port_);
  ASSERT_TRUE(flood.Send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  std::string lines;
  while (lines.size() < 64 * 1024) lines += "X-Fill: " + std::string(990, 'f') + "\r\n";
  std::size_t sent = 0;
  while (sent < 50u << 20 && flood.Send(lines)) sent += lines.size();
  const int answer = flood.Answer(5s);
  EXPECT_TRUE(answer == 431 || answer == 0) << answer;
  EXPECT_LT(sent, 50u << 20);
  EXPECT_LT(ResidentKilobytes() - before, 20 * 1024);
}

// Open pages refresh every 2 s over kept-alive connections; between refreshes they
// hold no worker, so another client is answered at once.
TEST_F(HttpServerPosix, OpenViewsLeaveRoomForAnotherClient) {
  std::atomic<bool> done{false};
  std::atomic<int> refreshes{0};
  std::vector<std::thread> views;
  for (int i = 0; i < 16; ++i) {
    views.emplace_back([this, &done, &refreshes] {
      auto client = std::make_unique<TClient>(port_);
      for (TClock::time_point next = TClock::now(); !done; next += 2s) {
        if (!client->Send(kGet) || client->Answer() != 200) {  // the idle connection was closed: a new one
          client = std::make_unique<TClient>(port_);
          if (!client->Send(kGet) || client->Answer() != 200) return;
        }
        ++refreshes;
        while (!done && TClock::now() < next + 2s) std::this_thread::sleep_for(50ms);
      }
    });
  }
  for (int i = 0; i < 400 && refreshes < 16; ++i) std::this_thread::sleep_for(50ms);
  std::chrono::milliseconds slowest{0};
  for (int i = 0; i < 4; ++i, std::this_thread::sleep_for(700ms)) {
    TClient other(port_);
    slowest = std::max(slowest, Timed(other));
  }
  done = true;
  for (std::thread& view : views) view.join();
  std::cout << "answered beside 16 open views in at most " << slowest.count() << " ms (" << refreshes << " refreshes)\n";
  EXPECT_LT(slowest, 5s);
  EXPECT_GE(refreshes, 32);
}

TEST(HttpHead, RequestsAreFramedWithinTheLimits) {
  struct Case { std::string bytes; THeadVerdict verdict; std::size_t size; };
  const std::string head = "POST /x HTTP/1.1\r\nHost: h\r\nContent-Length: 4\r\n\r\n";
  std::string many = "GET / HTTP/1.1\r\n";
  while (many.size() <= 64 * 1024) many += "X-Fill: " + std::string(100, 'f') + "\r\n";
  for (const Case& c : std::vector<Case>{
           {"GET / HTTP/1.1\r\nHost: h\r\n\r\nGET /next", THeadVerdict::kComplete, 27},
           {"GET / HTTP/1.1\r\nHost: h\r\n\n\r\n", THeadVerdict::kComplete, 28},  // a bare LF line is no end
           {head + "ab", THeadVerdict::kIncomplete, 0},
           {head + "abcdGET", THeadVerdict::kComplete, head.size() + 4},
           {"GET /" + std::string(8200, 'a') + " HTTP/1.1\r\n", THeadVerdict::kUriTooLong, 0},
           {"GET / HTTP/1.1\r\nX: " + std::string(8200, 'a'), THeadVerdict::kHeadersTooLarge, 0},
           {"POST / HTTP/1.1\r\ncontent-length: 20000\r\n\r\n", THeadVerdict::kBodyTooLarge, 0},
           {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", THeadVerdict::kBadRequest, 0},
           {many, THeadVerdict::kHeadersTooLarge, 0},
           {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", THeadVerdict::kLengthRequired, 0}}) {
    TRequestFramer framer(THeadLimits{});
    EXPECT_EQ(framer.Scan(c.bytes), c.verdict) << c.bytes.substr(0, 60);
    EXPECT_EQ(c.verdict == THeadVerdict::kComplete ? framer.RequestSize() : 0, c.size);
  }
}

}  // namespace
}  // namespace qar::tools
