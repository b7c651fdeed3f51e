// Named single-instance mutex: one holder per user logon, freed when the holder dies.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qar::platform {

enum class MutexOutcome {
  kCreated,        // this process created the mutex and owns it
  kAlreadyExists,  // another holder has it (Windows: ERROR_ALREADY_EXISTS, 183)
  kFailed,         // the mutex could not be created at all
};

// Creates a named mutex with initial ownership. The mutex lives in the user's
// logon: on Windows the local (session) namespace; on POSIX an advisory lock on a
// file "<name>.lock" in $XDG_RUNTIME_DIR (else in a per-uid directory
// "<temp>/qarsnc-<uid>" that only the user may write).
// Either way the system frees it when the owning process ends, however it ends.
// Processes that the holder starts do not inherit it.
//
// Only an object whose outcome is kCreated holds anything: on kAlreadyExists the
// handle to the other holder's mutex is closed at once, so a second instance never
// keeps the first one's mutex alive. Another object of the same name in the same
// process gets kAlreadyExists too. Names are plain names: an empty one, or one
// holding '/', '\\' or NUL (a namespace or a path), is refused with kFailed.
//
//   NamedMutex single("QSYNC");
//   if (single.Outcome() == MutexOutcome::kAlreadyExists) return 0;
class NamedMutex {
 public:
  explicit NamedMutex(std::string_view name);
  ~NamedMutex();  // closes the handle (releases the lock)
  NamedMutex(NamedMutex&&) noexcept;
  NamedMutex& operator=(NamedMutex&&) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // What the creation gave; Close() does not change it.
  MutexOutcome Outcome() const { return outcome_; }
  // The system's error code of the create call (GetLastError / errno); 0 when created.
  int LastError() const { return lastError_; }
  // The system's text for LastError().
  std::string ErrorText() const;
  // Releases the mutex now (a no-op when nothing is held).
  void Close();

  // The holder's note for other programs of the user, replaced whole: a file
  // "<name>.state" beside the lock (POSIX) or in the user's temporary directory
  // (Windows). False when nothing is held or the file cannot be written. The note
  // stays after the holder ends, so the next holder can read what it left.
  bool Publish(const std::string& text);
  // The note last published under `name`; nothing when there is none.
  static std::optional<std::string> ReadPublished(std::string_view name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  MutexOutcome outcome_ = MutexOutcome::kFailed;
  int lastError_ = 0;
};

}  // namespace qar::platform
