// The status page's transport on every system: requests answered side by side, and a stop that ends serving.
#include "tools/http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/socket_api.h"

namespace qar::tools {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view kEnd = ".\n";  // how every answer of the test's handler ends

// One request on a connection of its own; the answer, head and body.
std::string Ask(int port, const std::string& path) {
  const platform::TSocketLibrary library;
  const platform::TSocketHandle s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[4096];
    for (int n; !answer.ends_with(kEnd) && (n = static_cast<int>(recv(s, buffer, sizeof buffer, 0))) > 0;)
      answer.append(buffer, static_cast<std::size_t>(n));
  }
  platform::CloseSocket(s);
  return answer;
}

// A handler still busy with one request does not hold up the next: the first waits
// (boundedly) for the second to be answered.
TEST(HttpServer, RequestsAreAnsweredSideBySide) {
  std::atomic<bool> slowStarted{false}, fastAnswered{false};
  THttpServer server(
      [&](const THttpRequest& request) {
        if (request.path == "/fast") return THttpResponse{200, "text/plain", "fast.\n", {}};
        slowStarted = true;
        for (int i = 0; i < 400 && !fastAnswered; ++i) std::this_thread::sleep_for(50ms);
        return THttpResponse{200, "text/plain", fastAnswered ? "after the other.\n" : "alone.\n", {}};
      },
      THttpLimits{});
  const int port = server.Listen("127.0.0.1", 0);
  std::thread serving([&server] { server.Serve(); });
  std::string slow;
  std::thread asking([&] { slow = Ask(port, "/slow"); });
  for (int i = 0; i < 400 && !slowStarted; ++i) std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(Ask(port, "/fast").ends_with("\r\n\r\nfast.\n"));
  fastAnswered = true;
  asking.join();
  EXPECT_NE(slow.find("after the other"), std::string::npos) << slow;
  server.Stop();
  serving.join();
}

}  // namespace
}  // namespace qar::tools
