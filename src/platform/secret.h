// The connection-string cipher: authenticated encryption of text stored in the registry.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qar::platform {

// Raised when a stored value does not decrypt: tampered, encrypted with another
// key or on another platform, or never encrypted. Never returns garbage instead.
class ESecretError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encrypts text for storage as printable text (a version prefix and base64).
// Windows: DPAPI, machine scope. POSIX: libsodium secretbox with a 32-byte machine
// key file beside the registry file, created (mode 0600) on first encryption.
// Empty text gives empty text.
std::string EncryptSecret(std::string_view plain);

// The inverse of EncryptSecret. Empty text gives empty text.
std::string DecryptSecret(std::string_view stored);

}  // namespace qar::platform
