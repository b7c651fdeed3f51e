#include "tools/http_server.h"

#include <stdexcept>

namespace qar::tools {

// The Windows build has no HTTP library yet: serve says so instead of starting.
struct THttpServer::TImpl {};

THttpServer::THttpServer(THandler, THttpLimits) : impl_(std::make_unique<TImpl>()) {}
THttpServer::~THttpServer() = default;

int THttpServer::Listen(const std::string&, int) {
  throw std::runtime_error("serve is not available in this Windows build (it has no HTTP library)");
}
bool THttpServer::Serve() { return false; }
void THttpServer::Stop() {}

}  // namespace qar::tools
