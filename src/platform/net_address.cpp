#include "platform/net_address.h"

#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/socket_api.h"

namespace qar::platform {

std::vector<TResolvedAddress> ResolveAddresses(const std::string& host) {
  const TSocketLibrary library;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found); error != 0)
    throw std::runtime_error("\"" + host + "\" does not resolve to an address (" + gai_strerror(error) + ")");
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
  std::vector<TResolvedAddress> addresses;
  for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
    char numeric[NI_MAXHOST] = {};
    if (getnameinfo(at->ai_addr, static_cast<socklen_t>(at->ai_addrlen), numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST) != 0)
      continue;
    TResolvedAddress address{numeric, at->ai_family == AF_INET6, false};
    if (at->ai_family == AF_INET) {
      address.unspecified = reinterpret_cast<const sockaddr_in*>(at->ai_addr)->sin_addr.s_addr == 0;
    } else if (at->ai_family == AF_INET6) {
      const auto* bytes = reinterpret_cast<const sockaddr_in6*>(at->ai_addr)->sin6_addr.s6_addr;
      static constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
      static constexpr unsigned char kZero[16] = {};
      // "::", and "::ffff:0.0.0.0", the IPv4 wildcard written as an IPv6 address.
      address.unspecified = std::memcmp(bytes, kZero, 16) == 0 ||
                            (std::memcmp(bytes, kMappedPrefix, 12) == 0 && std::memcmp(bytes + 12, kZero, 4) == 0);
    }
    addresses.push_back(std::move(address));
  }
  if (addresses.empty()) throw std::runtime_error("\"" + host + "\" does not resolve to an address");
  return addresses;
}

}  // namespace qar::platform
