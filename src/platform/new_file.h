// Files made new in a directory that other users share: the directory itself, and a file that nobody could have planted.
#pragma once

#include <cstdint>
#include <string>

namespace qar::platform {

// Makes sure the directory `path` (ANSI) exists for the group of its parent: made with
// `mode` (POSIX, whatever the umask; the parent's group, the setgid bit passed on)
// when missing; an existing directory is kept as it is. A symbolic link or anything
// but a directory in its place is refused. Returns why it failed; empty on success.
// Windows: made with the rights the parent passes on; `mode` is not used.
std::string MakeGroupDirectory(const std::string& path, unsigned mode);

// A file this process made new, open for writing. Move-only; closed when it goes.
class TNewFile {
 public:
  // Creates `name` in the directory `dir` (both ANSI), which must not exist under that
  // name in any form: POSIX O_CREAT|O_EXCL|O_NOFOLLOW relative to the directory opened
  // without following a link, mode 0640 whatever the umask; Windows CREATE_NEW.
  // Exists() tells a name already taken (a planted file or link) from other failures.
  static TNewFile Create(const std::string& dir, const std::string& name);

  TNewFile() = default;
  ~TNewFile();
  TNewFile(TNewFile&& other) noexcept;
  TNewFile& operator=(TNewFile&& other) noexcept;
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;

  bool Ok() const { return native_ != kNone; }
  bool Exists() const { return exists_; }
  const std::string& Path() const { return path_; }   // dir + separator + name
  const std::string& Error() const { return error_; }  // the system's reason when !Ok()
  // POSIX: the file descriptor; Windows: the HANDLE.
  std::intptr_t Native() const { return native_; }
  void Close();

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t native_ = kNone;
  bool exists_ = false;
  std::string path_, error_;
};

}  // namespace qar::platform
