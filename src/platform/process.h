// Running processes: find a program's processes and hold them, terminate, start a program hidden and detached.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qar::platform {

struct ProcessResult {
  bool ok = false;
  int error = 0;          // GetLastError / errno when !ok
  std::string message;    // the system's text for error
};

// How a process ended: its exit status (Windows: exit code), or the signal that
// ended it (POSIX).
struct TExitStatus {
  bool signalled = false;
  int code = 0;
  bool operator==(const TExitStatus&) const = default;
};

// The name of the signal numbered `signal`: "SIGKILL" for 9, "SIGRTMIN+2"; empty for a
// number that names no signal of this system, and always on Windows.
std::string SignalName(int signal);

// Requests the termination of a process with exit code 0 (POSIX: SIGKILL).
// Does not wait for the process to end. Ids 0 and above INT32_MAX name no single
// process and are refused (POSIX would read them as "a whole group" or "everyone").
// Only for a process the caller started and has not reaped: any other id may have
// been reused meanwhile (hold a TProcessHandle instead).
ProcessResult TerminateProcessById(std::uint32_t pid);

// One process, held from the moment it was identified, so that asking about it or
// ending it reaches that process and never another that got its id later.
// POSIX: a pidfd (Linux 5.3 or later); Windows: a process handle. Move-only.
class TProcessHandle {
 public:
  TProcessHandle() = default;
  TProcessHandle(std::uint32_t pid, std::intptr_t native) : pid_(pid), native_(native) {}
  ~TProcessHandle() { Reset(); }
  TProcessHandle(TProcessHandle&& other) noexcept : pid_(other.pid_), native_(other.native_) {
    other.native_ = kNone;
  }
  TProcessHandle& operator=(TProcessHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      pid_ = other.pid_;
      native_ = other.native_;
      other.native_ = kNone;
    }
    return *this;
  }
  TProcessHandle(const TProcessHandle&) = delete;
  TProcessHandle& operator=(const TProcessHandle&) = delete;

  std::uint32_t Pid() const { return pid_; }
  // False once the process has ended (a zombie has ended).
  bool Running() const;
  // Requests the termination with exit code 0 (POSIX: SIGKILL); does not wait.
  ProcessResult Terminate() const;
  // For a process the caller started with StartChild: how it ended, once it has
  // (POSIX: the child is reaped then, so ask once). None while it runs, or when the
  // end cannot be known.
  std::optional<TExitStatus> Reap() const;

 private:
  static constexpr std::intptr_t kNone = -1;
  void Reset();
  std::uint32_t pid_ = 0;
  std::intptr_t native_ = kNone;
};

// The running processes of this user whose executable is the file `exePath`: the
// same file (POSIX: device and inode), or a file of that path that was removed or
// replaced since they started. Each is held while it is identified. Processes of
// other users, and programs of the same name elsewhere, are never listed.
std::vector<TProcessHandle> FindProcessesOfFile(const std::string& exePath);

// Starts `path` hidden and detached with one parameter string, in `workDir` when
// it is not empty (else the caller's current directory).
// Windows: ShellExecuteA(owner, nullptr, path, params, dir, SW_HIDE); `params` is
// a command line that the started program splits into arguments.
// POSIX: a new session with stdio on /dev/null, signal mask and ignored signals
// reset, no descriptor of the caller inherited; `params`, when not empty, is passed
// whole as the single argument (it never goes through a shell). A relative `path`
// is taken from the caller's current directory. ok=false carries the errno of a
// failed fork, chdir or exec.
// The started program outlives its starter and leaves no zombie behind.
ProcessResult StartDetached(const std::string& path, const std::string& params,
                            const std::string& workDir = {}, void* ownerWindow = nullptr);

// A program started as the caller's child and held from its start.
struct TStartedChild {
  ProcessResult result;
  TProcessHandle process;  // empty when !result.ok
};

// Starts `path` hidden with one parameter string, as StartDetached does, but held
// as the caller's child so that its end can be known (TProcessHandle::Reap). It
// still outlives the caller (then the system adopts it).
// POSIX: a new session; `environment` ("NAME=value" items) is added to the
// caller's environment for it only; standard input is /dev/null, standard output
// and error are appended to `outputFile` (created with mode 0640; empty: /dev/null).
// Windows: ShellExecuteEx with SW_HIDE; `environment` and `outputFile` are not used.
extern const bool kChildOutputToFile;  // whether StartChild's outputFile is used
TStartedChild StartChild(const std::string& path, const std::string& params,
                         const std::vector<std::string>& environment, const std::string& outputFile);

// The running processes of this user that carry the environment item `marker`
// ("NAME=value", set by whoever started them; inherited by their children and kept
// across exec), or whose executable is the file `exePath` (see FindProcessesOfFile).
// Each is held while it is identified; the caller itself is never listed.
// Windows: only the executable rule.
std::vector<TProcessHandle> FindMarkedProcesses(const std::string& exePath, const std::string& marker);

// The longest `params` that StartDetached can hand to the program `path`: the
// system's limit for one argument (POSIX) or for a whole command line (Windows).
std::size_t MaxStartParamsLength(const std::string& path);

// True where StartDetached's `params` is a command line that the started program
// splits at blanks and quotes (Windows); false where it arrives whole as one
// argument (POSIX).
extern const bool kStartParamsAreCommandLine;

// The current process's id.
std::uint32_t CurrentProcessId();

// The account this process runs as (POSIX: the login name of its user id, or the
// number when it has none; Windows: GetUserNameA).
std::string CurrentUserName();

// The system's identity of the running process `pid`: the id with the process's
// start (POSIX: boot id and start time in clock ticks; Windows: creation time), so
// two processes that had the same id never share it. Empty when no such process
// runs (a zombie has ended). Readable for any user's process.
std::string ProcessInstance(std::uint32_t pid);

// True when this Windows build runs under Wine (ntdll exports wine_get_version);
// always false on POSIX.
bool RunningUnderWine();

// The name under which the host's own programs reach the file `path`: under Wine the
// host's (Unix) name, which the host's libraries loaded into this process (the SQLite
// ODBC driver) need; `path` itself everywhere else.
std::string HostFileName(const std::string& path);

}  // namespace qar::platform
