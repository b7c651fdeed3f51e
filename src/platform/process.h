// Running processes: snapshot, terminate by id, start a program hidden and detached.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qar::platform {

inline constexpr std::size_t kMaxExeName = 260;

struct ProcessEntry {
  std::uint32_t pid = 0;
  // The executable name as the system lists it, ANSI, at most kMaxExeName bytes.
  // Windows: the Toolhelp32 szExeFile. POSIX: the name the process was started as
  // (comm, completed from argv[0] or /proc/<pid>/exe when comm was cut at 15).
  std::string exeName;
};

struct ProcessSnapshot {
  bool ok = false;        // false: the list could not be taken
  int error = 0;          // GetLastError / errno when !ok
  std::vector<ProcessEntry> entries;
};

// Every running process of the machine; zombies are not running and never listed.
// Processes that end while the list is taken may or may not be in it.
ProcessSnapshot SnapshotProcesses();

// The short name the system keeps for every process, ANSI: POSIX: comm (at most
// 15 bytes, the start of the full name); Windows: the executable name itself.
using ShortNameFilter = std::function<bool(std::string_view shortName)>;

// Lists only the processes whose short name passes `wanted`; the others cost
// one short read each (POSIX), so a search for one program stays cheap.
ProcessSnapshot SnapshotProcesses(const ShortNameFilter& wanted);

struct ProcessResult {
  bool ok = false;
  int error = 0;          // GetLastError / errno when !ok
  std::string message;    // the system's text for error
};

// Requests the termination of a process with exit code 0 (POSIX: SIGKILL).
// Does not wait for the process to end. Ids 0 and above INT32_MAX name no single
// process and are refused (POSIX would read them as "a whole group" or "everyone").
ProcessResult TerminateProcessById(std::uint32_t pid);

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

// True where StartDetached's `params` is a command line that the started program
// splits at blanks and quotes (Windows); false where it arrives whole as one
// argument (POSIX).
extern const bool kStartParamsAreCommandLine;

// True when the process runs under the same user as this one (POSIX: its real
// user id; Windows: its token's user). False when that cannot be told.
bool IsProcessOfCurrentUser(std::uint32_t pid);

// The current process's id.
std::uint32_t CurrentProcessId();

// True when this Windows build runs under Wine (ntdll exports wine_get_version);
// always false on POSIX.
bool RunningUnderWine();

// How a POSIX process's name is completed; pure text work, kept apart from /proc
// so it can be checked on every platform.
namespace procfs {

// The kernel keeps at most this many bytes of a process's name (comm).
inline constexpr std::size_t kCommMax = 15;

// Reads the name (comm) and the state letter out of a /proc/<pid>/stat line. The
// name is the text between the first '(' and the last ')', so a name holding
// blanks or parentheses is read whole. False when the line has no such form.
bool ParseStat(std::string_view stat, std::string& comm, char& state);

// The name a process was started as: `comm`, or, when comm was cut at kCommMax
// bytes, the base name of `argv0` or else of `exePath` (a " (deleted)" mark of a
// replaced executable dropped) that is longer and begins with comm. A program that
// renamed itself keeps the name it chose. At most kMaxExeName bytes.
std::string CompleteName(std::string_view comm, std::string_view argv0, std::string_view exePath);

}  // namespace procfs

}  // namespace qar::platform
