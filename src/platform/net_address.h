// What a host name or an address text stands for, as the system's resolver gives it.
#pragma once

#include <string>
#include <vector>

namespace qar::platform {

struct TResolvedAddress {
  std::string numeric;       // "127.0.0.1", "::1" (IPv6 without brackets)
  bool ipv6 = false;
  bool unspecified = false;  // 0.0.0.0, ::, ::ffff:0.0.0.0: every address of the machine
};

// Every address `host` resolves to (a name, or an address in any spelling the
// resolver takes: "0", "127.1", "[::ffff:0.0.0.0]" without its brackets), in the
// resolver's order. Raises std::runtime_error with the resolver's reason when it
// resolves to none.
std::vector<TResolvedAddress> ResolveAddresses(const std::string& host);

}  // namespace qar::platform
