// POSIX: HKEY_LOCAL_MACHINE kept in one .reg export file, read afresh and replaced atomically.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/registry.h"
#include "platform/regfile.h"
#include "platform/text.h"

namespace qar::platform {

namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";
constexpr char kDefaultFile[] = "/etc/qarsnc/HKLM.reg";
constexpr mode_t kNewFileMode = 0644;

std::string ErrnoText(int code) { return std::generic_category().message(code); }

RegStatus StatusOfErrno(int code) {
  return (code == EACCES || code == EPERM || code == EROFS) ? RegStatus::kAccessDenied
                                                            : RegStatus::kFailed;
}

RegStatus Fail(std::string& error, RegStatus status, std::string message) {
  error = std::move(message);
  return status;
}

RegStatus FailErrno(std::string& error, const std::string& what, int code) {
  return Fail(error, StatusOfErrno(code),
              what + ": " + ErrnoText(code) + " (errno " + std::to_string(code) + ")");
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A temp file that is removed unless it was renamed into place.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& Path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// "Software\X" -> "HKEY_LOCAL_MACHINE\Software\X" in the file's UTF-8.
bool MakeKeyPath(std::string_view path, std::string& keyPath) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  if (!path.empty() && path.front() == '\\') return false;
  if (path.find("\\\\") != std::string_view::npos) return false;
  keyPath = std::string(kRoot);
  if (!path.empty()) keyPath += "\\" + AnsiToUtf8(path);
  return true;
}

// The file itself when the configured path is a symbolic link, so a rewrite
// replaces the target and keeps the link.
std::string ResolvedFilePath() {
  std::string path = RegistryFilePath();
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (real) path = real.get();
  }
  return path;
}

std::string DirectoryOf(const std::string& file) {
  std::string dir = std::filesystem::path(file).parent_path().string();
  return dir.empty() ? "." : dir;
}

// A missing file is an empty registry; a malformed one is a failure naming the line.
RegStatus LoadDocument(const std::string& file, RegDocument& document, std::string& error) {
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT) {
      document = RegDocument{};
      return RegStatus::kOk;
    }
    return FailErrno(error, "cannot read " + file, errno);
  }
  std::string bytes;
  if (struct stat st {}; ::fstat(fd.Get(), &st) == 0 && st.st_size > 0) {
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(fd.Get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      return FailErrno(error, "cannot read " + file, errno);
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  try {
    document = ParseRegFile(bytes);
  } catch (const ERegFormatError& e) {
    return Fail(error, RegStatus::kFailed, file + " is not a registry file, " + e.what());
  }
  return RegStatus::kOk;
}

bool Accessible(const std::string& path, int mode) {
  return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// Full access means the file can be replaced: the file is writable and its
// directory takes the temp file and the rename (or, for a new file, the nearest
// existing directory lets the missing ones be made).
RegStatus CheckWritable(const std::string& file, std::string& error) {
  if (Accessible(file, F_OK) && !Accessible(file, W_OK)) {
    return FailErrno(error, "no write access to " + file, errno);
  }
  std::filesystem::path dir = DirectoryOf(file);
  std::error_code ec;
  while (!std::filesystem::exists(dir, ec) && dir.has_parent_path() && dir.parent_path() != dir) {
    dir = dir.parent_path();
  }
  if (!Accessible(dir.string(), W_OK | X_OK)) {
    return FailErrno(error, "no write access to the directory " + dir.string(), errno);
  }
  return RegStatus::kOk;
}

// Holds an exclusive lock on the file's directory: writers read, change and
// replace the file one at a time. The lock outlives the renames inside it.
class DirectoryLock {
 public:
  RegStatus Acquire(const std::string& dir, std::string& error) {
    fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return FailErrno(error, "cannot open the directory " + dir, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) return FailErrno(error, "cannot lock the directory " + dir, errno);
    }
    return RegStatus::kOk;
  }
  int Get() const { return fd_; }
  ~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }

 private:
  int fd_ = -1;
};

RegStatus WriteAll(int fd, std::string_view bytes, const std::string& file, std::string& error) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return FailErrno(error, "cannot write " + file, errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
  return RegStatus::kOk;
}

// Temp file in the same directory, flushed, then renamed over the file: readers
// see the old file or the new one, never a part.
RegStatus SaveDocument(const std::string& file, const RegDocument& document, int dirFd,
                       std::string& error) {
  mode_t mode = kNewFileMode;
  struct stat old {};
  const bool existed = ::stat(file.c_str(), &old) == 0;
  if (existed) mode = old.st_mode & 07777;

  const std::filesystem::path target(file);
  std::string pattern =
      (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
  FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd.Valid()) return FailErrno(error, "cannot create a temp file beside " + file, errno);
  TempFile temp(pattern);

  const std::string bytes = SerializeRegFile(document);
  try {
    ParseRegFile(bytes);  // a file that would not read back is never put in place
  } catch (const ERegFormatError& e) {
    return Fail(error, RegStatus::kFailed,
                "the change would leave " + file + " unreadable (" + e.what() + "); nothing was written");
  }
  if (::fchmod(fd.Get(), mode) != 0) return FailErrno(error, "cannot set the mode of " + pattern, errno);
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid())) {
    // Keep the owner when a privileged process rewrites someone else's file;
    // anyone else cannot, and the file is then theirs as any new file would be.
    [[maybe_unused]] const int ignored = ::fchown(fd.Get(), old.st_uid, old.st_gid);
  }
  if (RegStatus status = WriteAll(fd.Get(), bytes, pattern, error);
      status != RegStatus::kOk) {
    return status;
  }
  if (::fsync(fd.Get()) != 0) return FailErrno(error, "cannot flush " + pattern, errno);
  if (::close(fd.Release()) != 0) return FailErrno(error, "cannot close " + pattern, errno);
  if (::rename(pattern.c_str(), file.c_str()) != 0) {
    return FailErrno(error, "cannot replace " + file, errno);
  }
  temp.Keep();
  ::fsync(dirFd);  // the rename itself reaches the disk
  return RegStatus::kOk;
}

// Read-modify-write under the directory lock. `change(document, changed, error)`
// edits the document; the file is rewritten only when it set `changed`. A file
// that does not parse is never rewritten.
template <typename Change>
RegStatus ModifyFile(const std::string& file, Change&& change, std::string& error) {
  const std::string dir = DirectoryOf(file);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) return FailErrno(error, "cannot create the directory " + dir, ec.value());
  DirectoryLock lock;
  if (RegStatus status = lock.Acquire(dir, error); status != RegStatus::kOk) return status;
  RegDocument document;
  if (RegStatus status = LoadDocument(file, document, error); status != RegStatus::kOk) {
    return status;
  }
  bool changed = false;
  if (RegStatus status = change(document, changed, error); status != RegStatus::kOk) return status;
  return changed ? SaveDocument(file, document, lock.Get(), error) : RegStatus::kOk;
}

}  // namespace

struct RegistryKey::Impl {
  std::string file;
  std::string keyPath;  // "HKEY_LOCAL_MACHINE\..." as in the file (UTF-8)
  std::string ansiPath;  // the caller's path, for messages
  RegAccess access = RegAccess::kFull;

  RegStatus SetValue(RegValue value, std::string& error) {
    if (access == RegAccess::kRead) {
      return Fail(error, RegStatus::kAccessDenied,
                  "HKEY_LOCAL_MACHINE\\" + ansiPath + " is open for reading only");
    }
    return ModifyFile(
        file,
        [&](RegDocument& document, bool& changed, std::string& failure) {
          if (!document.HasKey(keyPath)) return KeyGone(failure);
          document.AddKey(keyPath).SetValue(std::move(value));
          changed = true;
          return RegStatus::kOk;
        },
        error);
  }

  RegStatus KeyGone(std::string& error) const {
    return Fail(error, RegStatus::kNotFound,
                "the key HKEY_LOCAL_MACHINE\\" + ansiPath + " no longer exists in " + file);
  }

  // The value `name` of the key as the file holds it now.
  RegStatus Find(std::string_view name, RegDocument& document, const RegValue*& found,
                 std::string& error) const {
    if (RegStatus status = LoadDocument(file, document, error); status != RegStatus::kOk) {
      return status;
    }
    if (!document.HasKey(keyPath)) return KeyGone(error);
    const RegKey* key = document.FindKey(keyPath);
    found = key ? key->FindValue(AnsiToUtf8(name)) : nullptr;
    if (!found) {
      return Fail(error, RegStatus::kNotFound,
                  "no value \"" + std::string(name) + "\" in HKEY_LOCAL_MACHINE\\" + ansiPath);
    }
    return RegStatus::kOk;
  }

  RegStatus WrongType(std::string_view name, const char* expected, std::string& error) const {
    return Fail(error, RegStatus::kWrongType,
                "the value \"" + std::string(name) + "\" in HKEY_LOCAL_MACHINE\\" + ansiPath +
                    " is not " + expected);
  }
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

RegStatus RegistryKey::Open(std::string_view path, bool create, RegAccess access) {
  Close();
  lastError_.clear();
  auto impl = std::make_unique<Impl>();
  impl->access = access;
  impl->ansiPath = std::string(path);
  if (std::string problem = KeyPathProblem(path); !problem.empty()) {
    return Fail(lastError_, RegStatus::kFailed, problem);
  }
  if (!MakeKeyPath(path, impl->keyPath)) {
    return Fail(lastError_, RegStatus::kFailed, "invalid key path \"" + impl->ansiPath + "\"");
  }
  impl->file = ResolvedFilePath();

  RegDocument document;
  if (RegStatus status = LoadDocument(impl->file, document, lastError_); status != RegStatus::kOk) {
    return status;
  }
  const bool exists = document.HasKey(impl->keyPath);
  if (!exists && !create) {
    return Fail(lastError_, RegStatus::kNotFound,
                "no key HKEY_LOCAL_MACHINE\\" + impl->ansiPath + " in " + impl->file);
  }
  if (access == RegAccess::kFull || !exists) {
    if (RegStatus status = CheckWritable(impl->file, lastError_); status != RegStatus::kOk) {
      return status;
    }
  }
  if (!exists) {
    const RegStatus status = ModifyFile(
        impl->file,
        [&](RegDocument& current, bool& changed, std::string&) {
          if (!current.HasKey(impl->keyPath)) {
            current.AddKey(impl->keyPath);
            changed = true;
          }
          return RegStatus::kOk;
        },
        lastError_);
    if (status != RegStatus::kOk) return status;
  }
  impl_ = std::move(impl);
  return RegStatus::kOk;
}

bool RegistryKey::IsOpen() const { return impl_ != nullptr; }

void RegistryKey::Close() { impl_.reset(); }

namespace {
RegStatus NotOpen(std::string& error) { return Fail(error, RegStatus::kFailed, "the key is not open"); }

// kOk, or kFailed with the reason the name (or the text) cannot be kept.
RegStatus CheckArguments(std::string_view name, std::string& error, std::string_view text = {}) {
  std::string problem = ValueNameProblem(name);
  if (problem.empty()) problem = TextValueProblem(text);
  return problem.empty() ? RegStatus::kOk : Fail(error, RegStatus::kFailed, problem);
}
}  // namespace

RegStatus RegistryKey::ReadString(std::string_view name, std::string& value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  RegDocument document;
  const RegValue* found = nullptr;
  if (RegStatus status = impl_->Find(name, document, found, lastError_); status != RegStatus::kOk) {
    return status;
  }
  if (found->kind != RegValueKind::kString && found->kind != RegValueKind::kExpandString) {
    return impl_->WrongType(name, "a string", lastError_);
  }
  value = Utf8ToAnsi(found->text);
  return RegStatus::kOk;
}

RegStatus RegistryKey::ReadInteger(std::string_view name, std::int32_t& value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  RegDocument document;
  const RegValue* found = nullptr;
  if (RegStatus status = impl_->Find(name, document, found, lastError_); status != RegStatus::kOk) {
    return status;
  }
  if (found->kind != RegValueKind::kDword) return impl_->WrongType(name, "a dword", lastError_);
  value = static_cast<std::int32_t>(found->dword);
  return RegStatus::kOk;
}

RegStatus RegistryKey::WriteString(std::string_view name, std::string_view value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_, value); status != RegStatus::kOk) return status;
  return impl_->SetValue(
      RegValue{AnsiToUtf8(name), RegValueKind::kString, AnsiToUtf8(value), 0, {}}, lastError_);
}

RegStatus RegistryKey::WriteInteger(std::string_view name, std::int32_t value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  return impl_->SetValue(
      RegValue{AnsiToUtf8(name), RegValueKind::kDword, {}, static_cast<std::uint32_t>(value), {}},
      lastError_);
}

RegStatus RegistryKey::DeleteValue(std::string_view name) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  if (impl_->access == RegAccess::kRead) {
    return Fail(lastError_, RegStatus::kAccessDenied,
                "HKEY_LOCAL_MACHINE\\" + impl_->ansiPath + " is open for reading only");
  }
  const std::string utf8Name = AnsiToUtf8(name);
  return ModifyFile(
      impl_->file,
      [&](RegDocument& document, bool& changed, std::string& error) {
        if (!document.HasKey(impl_->keyPath)) return impl_->KeyGone(error);
        RegKey* key = document.FindKey(impl_->keyPath);
        if (!key || !key->RemoveValue(utf8Name)) {
          return Fail(error, RegStatus::kNotFound,
                      "no value \"" + std::string(name) + "\" in HKEY_LOCAL_MACHINE\\" +
                          impl_->ansiPath);
        }
        changed = true;
        return RegStatus::kOk;
      },
      lastError_);
}

RegStatus DeleteRegistryKey(std::string_view path, std::string* error) {
  std::string message;
  std::string keyPath;
  RegStatus status;
  if (!KeyPathProblem(path).empty() || !MakeKeyPath(path, keyPath) || keyPath == kRoot) {
    status = Fail(message, RegStatus::kFailed, "cannot delete the key \"" + std::string(path) + "\"");
  } else {
    const std::string file = ResolvedFilePath();
    status = ModifyFile(
        file,
        [&](RegDocument& document, bool& changed, std::string& failure) {
          if (document.RemoveKeyTree(keyPath) == 0) {
            return Fail(failure, RegStatus::kNotFound,
                        "no key HKEY_LOCAL_MACHINE\\" + std::string(path) + " in " + file);
          }
          changed = true;
          return RegStatus::kOk;
        },
        message);
  }
  if (error) *error = message;
  return status;
}

std::string RegistryFilePath() {
  const char* configured = std::getenv("QARSNC_HKLM");
  return configured && *configured ? configured : kDefaultFile;
}

}  // namespace qar::platform
