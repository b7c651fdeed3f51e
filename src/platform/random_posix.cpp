#include "platform/random.h"

#include <sodium.h>

#include <stdexcept>
#include <vector>

namespace qar::platform {

std::string RandomHex(std::size_t count) {
  if (sodium_init() < 0) throw std::runtime_error("the random generator cannot be started");
  std::vector<unsigned char> bytes(count);
  randombytes_buf(bytes.data(), bytes.size());
  std::string hex(count * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), bytes.data(), bytes.size());
  hex.pop_back();
  return hex;
}

}  // namespace qar::platform
