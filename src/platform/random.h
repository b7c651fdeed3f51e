// Unpredictable bytes from the operating system, for tokens a client must not guess.
#pragma once

#include <cstddef>
#include <string>

namespace qar::platform {

// `count` random bytes as lower-case hex (2 * count characters). POSIX: libsodium's
// generator; Windows: the system's preferred generator. Raises std::runtime_error
// when the system cannot give any.
std::string RandomHex(std::size_t count);

}  // namespace qar::platform
