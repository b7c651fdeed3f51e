// POSIX: a program's processes from /proc held through pidfds, SIGKILL, and a double fork for detached starts.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
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

// The kernel's MAX_ARG_STRLEN: 32 pages of 4 KiB for one argument, its NUL included.
std::size_t MaxStartParamsLength(const std::string& /*path*/) { return 32 * 4096 - 1; }

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

// Linux 5.3 and later; older C libraries have no wrappers.
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif

bool TProcessHandle::Running() const {
  if (native_ == kNone) return false;
  // A pidfd becomes readable when its process ends.
  pollfd entry{static_cast<int>(native_), POLLIN, 0};
  int n;
  do {
    n = poll(&entry, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n == 0;
}

ProcessResult TProcessHandle::Terminate() const {
  if (native_ == kNone) return Failure(ESRCH);
  if (syscall(SYS_pidfd_send_signal, static_cast<int>(native_), SIGKILL, nullptr, 0) != 0) return Failure(errno);
  return {true, 0, {}};
}

void TProcessHandle::Reset() {
  if (native_ != kNone) close(static_cast<int>(native_));
  native_ = kNone;
}

std::vector<TProcessHandle> FindProcessesOfFile(const std::string& exePath) {
  std::vector<TProcessHandle> found;
  const std::string file = AnsiToUtf8(exePath);
  struct stat wanted {};
  const bool present = ::stat(file.c_str(), &wanted) == 0;
  char resolved[PATH_MAX];
  const std::string canonical = realpath(file.c_str(), resolved) != nullptr ? resolved : file;
  // The kernel names a process after its file, cut at 15 bytes: a cheap first filter.
  const std::string comm = canonical.substr(canonical.rfind('/') + 1).substr(0, 15);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), &closedir);
  if (!dir) return found;
  while (const dirent* entry = readdir(dir.get())) {
    std::uint32_t pid = 0;
    if (!ParsePid(entry->d_name, pid)) continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    char name[32] = {};
    {
      UniqueFd commFd(open((base + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
      if (commFd.Get() < 0 || read(commFd.Get(), name, sizeof name - 1) <= 0) continue;
    }
    if (std::string_view(name).substr(0, std::string_view(name).find('\n')) != comm) continue;
    // Held first, identified after: while the held process lives, /proc/<pid> is it.
    TProcessHandle handle(pid, syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    struct stat owner {};
    if (::stat(base.c_str(), &owner) != 0 || owner.st_uid != getuid()) continue;
    struct stat exe {};
    bool same = present && ::stat((base + "/exe").c_str(), &exe) == 0 && exe.st_dev == wanted.st_dev &&
                exe.st_ino == wanted.st_ino;
    if (!same) {
      std::string link = ReadLink(base + "/exe");
      constexpr std::string_view kDeleted = " (deleted)";
      if (link.ends_with(kDeleted)) link.resize(link.size() - kDeleted.size());
      same = link == canonical;
    }
    if (same && handle.Running()) found.push_back(std::move(handle));
  }
  return found;
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

namespace {
std::string ReadSmallFile(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return {};
  char buffer[1024];
  const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
}  // namespace

std::string ProcessInstance(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return {};
  // Fields after the name, which ends at the last ')': state is the 3rd field,
  // starttime the 22nd.
  const std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return {};
  std::string_view rest = std::string_view(stat).substr(close + 1);
  std::string_view fields[20];
  std::size_t count = 0;
  while (count < 20) {
    const std::size_t begin = rest.find_first_not_of(' ');
    if (begin == std::string_view::npos) break;
    rest.remove_prefix(begin);
    const std::size_t end = rest.find(' ');
    fields[count++] = rest.substr(0, end);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end);
  }
  if (count < 20 || fields[0] == "Z" || fields[0] == "X") return {};
  static const std::string bootId = [] {
    std::string id = ReadSmallFile("/proc/sys/kernel/random/boot_id");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return id;
  }();
  return std::to_string(pid) + "@" + std::string(fields[19]) + "@" + bootId;
}

bool RunningUnderWine() { return false; }

}  // namespace qar::platform
