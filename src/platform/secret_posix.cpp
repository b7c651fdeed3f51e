// POSIX: the connection-string cipher as libsodium secretbox under a machine key file.
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/secret.h"

namespace qar::platform {

namespace {

constexpr std::string_view kPrefix = "QS1:";         // secretbox, nonce || ciphertext
constexpr std::string_view kWindowsPrefix = "QD1:";  // DPAPI, from a Windows machine
constexpr char kKeyFileName[] = "machine.key";
constexpr mode_t kKeyFileMode = 0600;
constexpr int kBase64 = sodium_base64_VARIANT_ORIGINAL;
constexpr std::size_t kNonceSize = crypto_secretbox_NONCEBYTES;
constexpr std::size_t kMacSize = crypto_secretbox_MACBYTES;

// The key, wiped from memory when it goes out of scope.
struct MachineKey {
  std::array<unsigned char, crypto_secretbox_KEYBYTES> bytes{};
  MachineKey() = default;
  MachineKey(const MachineKey&) = delete;
  MachineKey& operator=(const MachineKey&) = delete;
  ~MachineKey() { sodium_memzero(bytes.data(), bytes.size()); }
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

class TempFileName {
 public:
  explicit TempFileName(std::string path) : path_(std::move(path)) {}
  ~TempFileName() { ::unlink(path_.c_str()); }
  TempFileName(const TempFileName&) = delete;
  TempFileName& operator=(const TempFileName&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

[[noreturn]] void ThrowErrno(const std::string& what, int code) {
  throw ESecretError(what + ": " + std::generic_category().message(code));
}

void InitSodium() {
  static const bool ready = sodium_init() >= 0;  // thread-safe, once
  if (!ready) throw ESecretError("the cipher library (libsodium) could not be initialised");
}

std::filesystem::path KeyDirectory() {
  std::filesystem::path dir = std::filesystem::path(RegistryFilePath()).parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

// False when the key file does not exist; a file of the wrong size is refused.
bool ReadKey(const std::string& path, MachineKey& key) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return false;
    ThrowErrno("cannot read the machine key " + path, errno);
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) ThrowErrno("cannot read the machine key " + path, errno);
  if (!S_ISREG(st.st_mode) || st.st_size != static_cast<off_t>(key.bytes.size())) {
    throw ESecretError("the machine key " + path + " is not a file of " +
                      std::to_string(key.bytes.size()) + " bytes; refusing to use it");
  }
  std::size_t done = 0;
  while (done < key.bytes.size()) {
    const ssize_t count = ::read(fd.Get(), key.bytes.data() + done, key.bytes.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) ThrowErrno("cannot read the machine key " + path, errno);
    if (count == 0) throw ESecretError("the machine key " + path + " shrank while being read");
    done += static_cast<std::size_t>(count);
  }
  return true;
}

// Writes a new random key whole under a temp name and links it into place. The
// link fails when the name exists (as O_CREAT|O_EXCL would), so of two processes
// that race to create the key one wins and both use its key, and nobody ever reads
// a half-written file.
void CreateKey(const std::filesystem::path& dir, const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) ThrowErrno("cannot create the directory " + dir.string(), ec.value());
  std::string pattern = (dir / ".machine.key.XXXXXX").string();
  FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno("cannot create the machine key in " + dir.string(), errno);
  TempFileName temp(pattern);
  if (::fchmod(fd.Get(), kKeyFileMode) != 0) ThrowErrno("cannot protect " + pattern, errno);
  MachineKey key;
  randombytes_buf(key.bytes.data(), key.bytes.size());
  std::size_t done = 0;
  while (done < key.bytes.size()) {
    const ssize_t count = ::write(fd.Get(), key.bytes.data() + done, key.bytes.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) ThrowErrno("cannot write the machine key " + pattern, errno);
    done += static_cast<std::size_t>(count);
  }
  if (::fsync(fd.Get()) != 0) ThrowErrno("cannot flush the machine key " + pattern, errno);
  if (::close(fd.Release()) != 0) ThrowErrno("cannot write the machine key " + pattern, errno);
  if (::link(temp.Path().c_str(), path.c_str()) != 0 && errno != EEXIST) {
    ThrowErrno("cannot create the machine key " + path, errno);
  }
}

// Loads the machine key; creates it first when `create` is set and it is missing.
void LoadKey(MachineKey& key, bool create) {
  const std::filesystem::path dir = KeyDirectory();
  const std::string path = (dir / kKeyFileName).string();
  if (ReadKey(path, key)) return;
  if (!create) {
    throw ESecretError("the machine key " + path +
                      " does not exist: the value was encrypted on another machine or with a "
                      "key since lost; store it again");
  }
  CreateKey(dir, path);
  if (!ReadKey(path, key)) throw ESecretError("the machine key " + path + " vanished after creation");
}

}  // namespace

std::string EncryptSecret(std::string_view plain) {
  if (plain.empty()) return {};
  InitSodium();
  MachineKey key;
  LoadKey(key, true);
  std::vector<unsigned char> box(kNonceSize + kMacSize + plain.size());
  randombytes_buf(box.data(), kNonceSize);
  crypto_secretbox_easy(box.data() + kNonceSize, reinterpret_cast<const unsigned char*>(plain.data()),
                        plain.size(), box.data(), key.bytes.data());
  std::string encoded(sodium_base64_ENCODED_LEN(box.size(), kBase64), '\0');
  sodium_bin2base64(encoded.data(), encoded.size(), box.data(), box.size(), kBase64);
  encoded.resize(std::strlen(encoded.c_str()));
  return std::string(kPrefix) + encoded;
}

std::string DecryptSecret(std::string_view stored) {
  if (stored.empty()) return {};
  // Never quote the stored text: a value that was never encrypted is a password.
  if (stored.starts_with(kWindowsPrefix)) {
    throw ESecretError("the value was encrypted on Windows (DPAPI, \"QD1:\") and cannot be "
                      "decrypted on this machine; store it again here");
  }
  if (!stored.starts_with(kPrefix)) {
    throw ESecretError("the value is not encrypted text (it does not begin with \"QS1:\"); "
                      "store it with the administrator's tool");
  }
  InitSodium();
  const std::string_view payload = stored.substr(kPrefix.size());
  std::vector<unsigned char> box(payload.size() + 1);
  std::size_t boxSize = 0;
  const char* end = nullptr;
  if (sodium_base642bin(box.data(), box.size(), payload.data(), payload.size(), nullptr, &boxSize,
                        &end, kBase64) != 0 ||
      end != payload.data() + payload.size()) {
    throw ESecretError("the encrypted value is damaged: its text after \"QS1:\" is not base64");
  }
  if (boxSize < kNonceSize + kMacSize) throw ESecretError("the encrypted value is damaged: too short");
  MachineKey key;
  LoadKey(key, false);
  std::string plain(boxSize - kNonceSize - kMacSize, '\0');
  if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(plain.data()),
                                 box.data() + kNonceSize, boxSize - kNonceSize, box.data(),
                                 key.bytes.data()) != 0) {
    throw ESecretError("the encrypted value does not decrypt with the machine key in " +
                      KeyDirectory().string() +
                      ": it was changed, or encrypted with another machine's key");
  }
  return plain;
}

}  // namespace qar::platform
