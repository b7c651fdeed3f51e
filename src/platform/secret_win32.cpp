// Windows: the connection-string cipher as DPAPI in machine scope.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/secret.h"

namespace qar::platform {

namespace {

constexpr std::string_view kPrefix = "QD1:";       // DPAPI blob
constexpr std::string_view kPosixPrefix = "QS1:";  // libsodium, from a POSIX machine

std::string SystemMessage(DWORD code) {
  char buffer[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  return "error " + std::to_string(code) + " " + std::string(buffer, length);
}

// The output blob of CryptProtectData / CryptUnprotectData, freed with LocalFree.
class OutputBlob {
 public:
  OutputBlob() = default;
  OutputBlob(const OutputBlob&) = delete;
  OutputBlob& operator=(const OutputBlob&) = delete;
  ~OutputBlob() {
    if (blob_.pbData) {
      SecureZeroMemory(blob_.pbData, blob_.cbData);
      LocalFree(blob_.pbData);
    }
  }
  DATA_BLOB* Get() { return &blob_; }
  std::string Bytes() const {
    return std::string(reinterpret_cast<const char*>(blob_.pbData), blob_.cbData);
  }

 private:
  DATA_BLOB blob_{};
};

DATA_BLOB InputBlob(std::string_view bytes) {
  DATA_BLOB blob;
  blob.cbData = static_cast<DWORD>(bytes.size());
  blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
  return blob;
}

std::string ToBase64(const std::string& bytes) {
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  DWORD size = 0;
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const auto length = static_cast<DWORD>(bytes.size());
  if (!CryptBinaryToStringA(data, length, flags, nullptr, &size)) {
    throw ESecretError("CryptBinaryToStringA: " + SystemMessage(GetLastError()));
  }
  std::string text(size, '\0');
  if (!CryptBinaryToStringA(data, length, flags, text.data(), &size)) {
    throw ESecretError("CryptBinaryToStringA: " + SystemMessage(GetLastError()));
  }
  // Keep the base64 characters only: no terminating NUL, no line breaks.
  std::erase_if(text, [](char c) { return c == '\0' || c == '\r' || c == '\n'; });
  return text;
}

bool IsBase64Text(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  for (char c : text) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                        c == '+' || c == '/';
    if (c == '=') {
      ++padding;
    } else if (!letter || padding > 0) {
      return false;  // a character outside base64, or data after the padding
    }
  }
  return padding <= 2;
}

std::string FromBase64(std::string_view text) {
  if (!IsBase64Text(text)) {
    throw ESecretError("the encrypted value is damaged: its text after \"QD1:\" is not base64");
  }
  DWORD size = 0;
  const auto length = static_cast<DWORD>(text.size());
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                            nullptr)) {
    throw ESecretError("the encrypted value is damaged: " + SystemMessage(GetLastError()));
  }
  std::string bytes(size, '\0');
  if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr)) {
    throw ESecretError("the encrypted value is damaged: " + SystemMessage(GetLastError()));
  }
  bytes.resize(size);
  return bytes;
}

}  // namespace

std::string EncryptSecret(std::string_view plain) {
  if (plain.empty()) return {};
  DATA_BLOB input = InputBlob(plain);
  OutputBlob output;
  if (!CryptProtectData(&input, nullptr, nullptr, nullptr, nullptr,
                        CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, output.Get())) {
    throw ESecretError("CryptProtectData: " + SystemMessage(GetLastError()));
  }
  return std::string(kPrefix) + ToBase64(output.Bytes());
}

std::string DecryptSecret(std::string_view stored) {
  if (stored.empty()) return {};
  // Never quote the stored text: a value that was never encrypted is a password.
  if (stored.starts_with(kPosixPrefix)) {
    throw ESecretError("the value was encrypted on a POSIX machine (\"QS1:\") and cannot be "
                      "decrypted on this machine; store it again here");
  }
  if (!stored.starts_with(kPrefix)) {
    throw ESecretError("the value is not encrypted text (it does not begin with \"QD1:\"); "
                      "store it with the administrator's tool");
  }
  const std::string blob = FromBase64(stored.substr(kPrefix.size()));
  DATA_BLOB input = InputBlob(blob);
  OutputBlob output;
  if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          output.Get())) {
    throw ESecretError("the encrypted value does not decrypt on this machine (it was changed, or "
                      "encrypted on another machine): CryptUnprotectData " +
                      SystemMessage(GetLastError()));
  }
  return output.Bytes();
}

}  // namespace qar::platform
