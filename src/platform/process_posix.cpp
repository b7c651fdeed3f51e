// POSIX: the process list from /proc, SIGKILL, and a double fork for detached starts.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <system_error>

#include "platform/process.h"
#include "platform/text.h"

namespace qar::platform {

const bool kStartParamsAreCommandLine = false;

namespace {

// A file descriptor closed when it goes out of scope.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::string SystemText(int error) { return std::generic_category().message(error); }

ProcessResult Failure(int error) { return {false, error, SystemText(error)}; }

// Up to `limit` bytes of a small /proc file; empty when it cannot be read (the
// process may have ended meanwhile).
std::string ReadProcFile(const std::string& path, std::size_t limit) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return {};
  std::string data(limit, '\0');
  std::size_t used = 0;
  while (used < limit) {
    const ssize_t n = read(fd.Get(), data.data() + used, limit - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<std::size_t>(n);
  }
  data.resize(used);
  return data;
}

std::string ReadLink(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool ParsePid(const char* text, std::uint32_t& pid) {
  if (*text == '\0') return false;
  std::uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    if (value > UINT32_MAX) return false;
  }
  pid = static_cast<std::uint32_t>(value);
  return true;
}

// Writes the errno of a failed step to the starter and ends the child. Only
// async-signal-safe calls: this runs between fork and exec.
[[noreturn]] void ReportAndExit(int pipeFd) {
  const int error = errno;
  ssize_t ignored = write(pipeFd, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

}  // namespace

ProcessSnapshot SnapshotProcesses() { return SnapshotProcesses(nullptr); }

ProcessSnapshot SnapshotProcesses(const ShortNameFilter& wanted) {
  ProcessSnapshot snapshot;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), &closedir);
  if (!dir) {
    snapshot.error = errno;
    return snapshot;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        snapshot.error = errno;
        snapshot.entries.clear();
        return snapshot;
      }
      break;
    }
    std::uint32_t pid = 0;
    if (!ParsePid(entry->d_name, pid)) continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    if (wanted) {
      // comm is far cheaper to read than stat: filter on it first.
      std::string shortName = ReadProcFile(base + "/comm", procfs::kCommMax + 2);
      if (!shortName.empty() && shortName.back() == '\n') shortName.pop_back();
      if (!wanted(Utf8ToAnsi(shortName))) continue;
    }
    std::string comm;
    char state = '\0';
    if (!procfs::ParseStat(ReadProcFile(base + "/stat", 1024), comm, state)) continue;
    // Zombies (and the dead) have ended; only their parent has yet to notice.
    if (state == 'Z' || state == 'X') continue;
    std::string argv0;
    std::string exePath;
    if (comm.size() >= procfs::kCommMax) {
      const std::string cmdline = ReadProcFile(base + "/cmdline", PATH_MAX);
      argv0 = cmdline.substr(0, cmdline.find('\0'));
      exePath = ReadLink(base + "/exe");
    }
    snapshot.entries.push_back({pid, Utf8ToAnsi(procfs::CompleteName(comm, argv0, exePath))});
  }
  snapshot.ok = true;
  return snapshot;
}

ProcessResult TerminateProcessById(std::uint32_t pid) {
  // kill() reads 0 as "my process group" and -1 as "every process I may signal".
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return Failure(ESRCH);
  if (kill(static_cast<pid_t>(pid), SIGKILL) != 0) return Failure(errno);
  return {true, 0, {}};
}

ProcessResult StartDetached(const std::string& path, const std::string& params,
                            const std::string& workDir, void* /*ownerWindow*/) {
  // Everything the children need is prepared here: between fork and exec only
  // async-signal-safe calls may run.
  std::string file = AnsiToUtf8(path);
  const std::string dir = AnsiToUtf8(workDir);
  if (!dir.empty() && !file.empty() && file.front() != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return Failure(errno);
    file = std::string(cwd) + "/" + file;
  }
  const std::string argument = AnsiToUtf8(params);
  char* argv[3] = {file.data(), params.empty() ? nullptr : const_cast<char*>(argument.c_str()), nullptr};

  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigset_t emptyMask;
  sigemptyset(&emptyMask);
#ifndef CLOSE_RANGE_CLOEXEC
  const long maxFd = sysconf(_SC_OPEN_MAX) > 0 ? sysconf(_SC_OPEN_MAX) : 1024;
#endif

  // The exec's outcome comes back through this pipe: closed unread by a
  // successful exec (CLOEXEC), or carrying the errno of the step that failed.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return Failure(errno);
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);

  const pid_t child = fork();
  if (child < 0) return Failure(errno);
  if (child == 0) {
    // Intermediate child: a new session, then a grandchild that init (or the
    // nearest subreaper) adopts once this one exits.
    if (setsid() < 0) ReportAndExit(fds[1]);
    const pid_t grandchild = fork();
    if (grandchild < 0) ReportAndExit(fds[1]);
    if (grandchild > 0) _exit(0);

    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) ReportAndExit(fds[1]);
    if (dup2(devNull, 0) < 0 || dup2(devNull, 1) < 0 || dup2(devNull, 2) < 0) ReportAndExit(fds[1]);
    if (devNull > 2) close(devNull);
    // Descriptors the starter left inheritable (a lock, a database) stay with it.
#ifdef CLOSE_RANGE_CLOEXEC
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
#else
    for (long fd = 3; fd < maxFd; ++fd) fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
#endif
    // A blocked or ignored signal would otherwise stay so in the started program.
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &defaultAction, nullptr);
    sigprocmask(SIG_SETMASK, &emptyMask, nullptr);
    if (!dir.empty() && chdir(dir.c_str()) != 0) ReportAndExit(fds[1]);
    execv(file.c_str(), argv);
    ReportAndExit(fds[1]);
  }

  writeEnd.Reset();
  // The intermediate child exits at once; reaping it leaves no zombie.
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
  int childError = 0;
  ssize_t n;
  do {
    n = read(readEnd.Get(), &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof childError)) return Failure(childError);
  return {true, 0, {}};
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

bool RunningUnderWine() { return false; }

}  // namespace qar::platform

namespace qar::platform {

bool IsProcessOfCurrentUser(std::uint32_t pid) {
  struct stat info {};
  const std::string path = "/proc/" + std::to_string(pid);
  if (stat(path.c_str(), &info) != 0) return false;
  return info.st_uid == getuid();
}

}  // namespace qar::platform
