// TFileLock: an exclusive lock on a file that the processes of several users share, freed by the system when its holder ends.
#pragma once

#include <memory>
#include <string>

namespace qar::platform {

// One process at a time holds the lock on the file `path` (ANSI); the system frees it
// when that process ends, however it ends. Taken without waiting: a process that does
// not get it asks again later.
//   POSIX: flock on the file, opened read-only (a member of the file's group may take
//          it). The file is created when missing, never through a symbolic link, with
//          mode 0660 and the directory's group; anything but a regular file is refused.
//   Windows: LockFileEx on the file's first byte, the file opened for reading and
//          created when missing.
//
//   TFileLock lock(dir + "/qarsnc-dispatch.lock");
//   if (lock.TryLock()) ... this process holds it (also when it held it already)
//   else if (!lock.Error().empty()) ... the lock cannot be taken at all: Error() says why
class TFileLock {
 public:
  explicit TFileLock(std::string path);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  const std::string& Path() const { return path_; }
  // Takes the lock when it is free; true while this object holds it.
  bool TryLock();
  bool Held() const { return held_; }
  // Why the last TryLock failed other than by another process holding the lock (the
  // file cannot be created or opened, or is not a regular file); empty otherwise.
  const std::string& Error() const { return error_; }
  // Gives the lock up (the file stays).
  void Unlock();

 private:
  struct Impl;
  std::string path_;
  std::unique_ptr<Impl> impl_;
  bool held_ = false;
  std::string error_;
};

}  // namespace qar::platform
