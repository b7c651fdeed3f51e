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
// POSIX: a pidfd (Linux 5.3 or later); for the caller's own child without one (an
// older kernel, a refused pidfd_open), its id, which stays its own until it is
// reaped. Windows: a process handle. Move-only.
class TProcessHandle {
 public:
  TProcessHandle() = default;
  TProcessHandle(std::uint32_t pid, std::intptr_t native, bool child = false)
      : pid_(pid), native_(native), child_(child) {}
  ~TProcessHandle() { Reset(); }
  TProcessHandle(TProcessHandle&& other) noexcept
      : pid_(other.pid_), native_(other.native_), child_(other.child_), reaped_(other.reaped_) {
    other.native_ = kNone;
    other.child_ = false;
  }
  TProcessHandle& operator=(TProcessHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      pid_ = other.pid_;
      native_ = other.native_;
      child_ = other.child_;
      reaped_ = other.reaped_;
      other.native_ = kNone;
      other.child_ = false;
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
  // The same for the process's whole group, for a child StartChild started and not
  // reaped yet (the group keeps the child's id, which stays its own until it is
  // reaped); Windows: Terminate.
  ProcessResult TerminateGroup() const;
  // For a process the caller started with StartChild: how it ended, once it has
  // (POSIX: the child is reaped then, so ask once). None while it runs, or when the
  // end cannot be known.
  std::optional<TExitStatus> Reap() const;

 private:
  static constexpr std::intptr_t kNone = -1;
  void Reset();
  std::uint32_t pid_ = 0;
  std::intptr_t native_ = kNone;
  bool child_ = false;          // the caller's child (POSIX: reaped with waitpid)
  mutable bool reaped_ = false;
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

class TNewFile;

// A program started as the caller's child and held from its start.
struct TStartedChild {
  ProcessResult result;
  TProcessHandle process;  // empty when !result.ok
  // What went wrong without stopping the start (POSIX: no pidfd, so the child is
  // watched by polling); empty when nothing did.
  std::string warning;
};

// Starts `path` hidden with one parameter string, as StartDetached does, but held
// as the caller's child so that its end can be known (TProcessHandle::Reap). It
// still outlives the caller (then the system adopts it).
// POSIX: a new session, so the child leads a process group of its own; `environment`
// ("NAME=value" items) is added to the caller's environment for it only; standard
// input is /dev/null. Standard output and error go to `output` (null: /dev/null)
// through a relay process of its own session (named "qarsnc-output"), which keeps
// at most `outputLimit` bytes there (0: no limit): past it the oldest part is cut,
// the end kept and the cut told in a line at the top. The relay always reads, so
// the child never waits on it, and it outlives the caller as the child does.
// Windows: ShellExecuteEx with SW_HIDE; `environment` and `output` are not used.
extern const bool kChildOutputToFile;  // whether StartChild's output is used
TStartedChild StartChild(const std::string& path, const std::string& params,
                         const std::vector<std::string>& environment, const TNewFile* output,
                         std::uint64_t outputLimit);

// One running process, as a look at the whole process table sees it.
struct TProcessEntry {
  std::uint32_t pid = 0, parent = 0;
  // POSIX: its process group and session; Windows: 0.
  std::uint32_t group = 0, session = 0;
  // When it started, in the units of ProcessInstance (0: not known).
  std::uint64_t start = 0;
  // Bit i: it carries marks[i] in its environment (POSIX, this user's processes only).
  std::uint32_t marks = 0;
};

// Every running process (zombies left out) in one pass, the caller among them, with
// which of `marks` (at most 32 "NAME=value" items) each of this user's processes
// carries. POSIX reads /proc/<pid>/stat of each process, and /proc/<pid>/environ of
// this user's when `marks` is not empty; Windows takes a Toolhelp32 snapshot and each
// process's creation time.
std::vector<TProcessEntry> ListProcesses(const std::vector<std::string>& marks = {});

// Ends (exit code 0; POSIX: SIGKILL) the process `pid` if it is still the one that
// started at `start` (TProcessEntry::start): it is held, then checked, then ended.
// A process gone already counts as ended; ok=false says why a running one was not
// (another user's, without the right).
ProcessResult TerminateProcessInstance(std::uint32_t pid, std::uint64_t start);

// The command line of the running process `pid`, for a log line: POSIX its arguments
// joined by blanks (readable for any user's process), Windows its executable file;
// cut to `maxLength`, control characters as blanks. Empty when it is gone.
std::string ProcessCommandLine(std::uint32_t pid, std::size_t maxLength = 200);

// The start (as TProcessEntry::start) that the identity `instance` (ProcessInstance)
// gives for `pid`; none when it names another process or another boot of the
// machine, or is no identity at all.
std::optional<std::uint64_t> InstanceStart(const std::string& instance, std::uint32_t pid);

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
