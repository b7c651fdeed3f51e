// POSIX: a program's processes from /proc held through pidfds, SIGKILL, and a double fork for detached starts.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

extern char** environ;

#include "platform/clock.h"
#include "platform/new_file.h"
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
  if (native_ == kNone) {
    if (!child_ || reaped_) return false;
    // Without a pidfd: asked without reaping, so Reap still gets the status.
    siginfo_t info{};
    int rc;
    do {
      rc = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc < 0 && errno == EINTR);
    return rc == 0 && info.si_pid == 0;
  }
  // A pidfd becomes readable when its process ends.
  pollfd entry{static_cast<int>(native_), POLLIN, 0};
  int n;
  do {
    n = poll(&entry, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n == 0;
}

ProcessResult TProcessHandle::Terminate() const {
  if (native_ == kNone) {
    // An unreaped child's id is still its own.
    if (!child_ || reaped_) return Failure(ESRCH);
    return kill(static_cast<pid_t>(pid_), SIGKILL) == 0 ? ProcessResult{true, 0, {}} : Failure(errno);
  }
  if (syscall(SYS_pidfd_send_signal, static_cast<int>(native_), SIGKILL, nullptr, 0) != 0) return Failure(errno);
  return {true, 0, {}};
}

ProcessResult TProcessHandle::TerminateGroup() const {
  if (!child_ || reaped_ || pid_ == 0 || pid_ > static_cast<std::uint32_t>(INT32_MAX)) return Terminate();
  // The group bears the child's id, which no other process can get before the child is reaped.
  if (kill(-static_cast<pid_t>(pid_), SIGKILL) != 0 && errno != ESRCH) return Failure(errno);
  return {true, 0, {}};
}

void TProcessHandle::Reset() {
  if (native_ != kNone) close(static_cast<int>(native_));
  native_ = kNone;
}

namespace {

// The worker file as the walk compares it: device and inode, the resolved path
// (for a file removed or replaced since the process started) and the kernel's
// 15-byte name for it.
struct TWantedFile {
  bool present = false;
  struct stat info {};
  std::string canonical;
  std::string comm;
};

TWantedFile Wanted(const std::string& exePath) {
  TWantedFile wanted;
  const std::string file = AnsiToUtf8(exePath);
  wanted.present = ::stat(file.c_str(), &wanted.info) == 0;
  char resolved[PATH_MAX];
  wanted.canonical = realpath(file.c_str(), resolved) != nullptr ? resolved : file;
  wanted.comm = wanted.canonical.substr(wanted.canonical.rfind('/') + 1).substr(0, 15);
  return wanted;
}

bool RunsFile(const std::string& base, const TWantedFile& wanted) {
  struct stat exe {};
  if (wanted.present && ::stat((base + "/exe").c_str(), &exe) == 0 && exe.st_dev == wanted.info.st_dev &&
      exe.st_ino == wanted.info.st_ino)
    return true;
  std::string link = ReadLink(base + "/exe");
  constexpr std::string_view kDeleted = " (deleted)";
  if (link.ends_with(kDeleted)) link.resize(link.size() - kDeleted.size());
  return link == wanted.canonical;
}

// This user's processes that `matches` (given /proc/<pid> and the process's
// kernel name). A process is identified, then held, then identified again: while
// the held process lives, /proc/<pid> is it, so what is returned is the process
// that matched and never one that got its id in between. Most processes match
// nothing and are never held.
template <class Matches>
std::vector<TProcessHandle> FindOwnProcesses(Matches& matches) {
  std::vector<TProcessHandle> found;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), &closedir);
  if (!dir) return found;
  const uid_t uid = getuid();
  const std::uint32_t self = static_cast<std::uint32_t>(getpid());
  std::string base;
  const auto ownedByUs = [&] {
    struct stat owner {};
    return ::stat(base.c_str(), &owner) == 0 && owner.st_uid == uid;
  };
  while (const dirent* entry = readdir(dir.get())) {
    std::uint32_t pid = 0;
    if (!ParsePid(entry->d_name, pid) || pid == self) continue;
    base.assign("/proc/").append(entry->d_name);
    char name[32] = {};
    {
      UniqueFd commFd(open((base + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
      if (commFd.Get() < 0 || read(commFd.Get(), name, sizeof name - 1) <= 0) continue;
    }
    const std::string_view comm = std::string_view(name).substr(0, std::string_view(name).find('\n'));
    if (!matches.Candidate(comm) || !ownedByUs() || !matches.Identified(base, comm)) continue;
    TProcessHandle handle(pid, syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (handle.Running() && ownedByUs() && matches.Identified(base, comm)) found.push_back(std::move(handle));
  }
  return found;
}

}  // namespace

std::vector<TProcessHandle> FindProcessesOfFile(const std::string& exePath) {
  struct {
    TWantedFile wanted;
    // The kernel names a process after its file, cut at 15 bytes: a cheap first filter.
    bool Candidate(std::string_view comm) const { return comm == wanted.comm; }
    bool Identified(const std::string& base, std::string_view) const { return RunsFile(base, wanted); }
  } matches{Wanted(exePath)};
  return FindOwnProcesses(matches);
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

std::optional<TExitStatus> TProcessHandle::Reap() const {
  if (reaped_ || pid_ == 0 || pid_ > static_cast<std::uint32_t>(INT32_MAX) || Running()) return std::nullopt;
  int status = 0;
  pid_t done;
  do {
    done = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done != static_cast<pid_t>(pid_)) return std::nullopt;  // not (or no longer) our child
  reaped_ = true;
  if (WIFSIGNALED(status)) return TExitStatus{true, WTERMSIG(status)};
  return TExitStatus{false, WEXITSTATUS(status)};
}

const bool kChildOutputToFile = true;

namespace {

// ---- the output relay: after fork without exec, so only async-signal-safe calls

std::size_t FormatNumber(std::uint64_t value, char* out) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

std::size_t Append(char* out, std::size_t at, const char* text) {
  while (*text != '\0') out[at++] = *text++;
  return at;
}

bool WriteAllAt(int fd, const char* data, std::size_t size, off_t at) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    at += n;
  }
  return true;
}

// The file `out` as the relay keeps it: the child's output, past `limit` bytes the
// newest half of it behind one line that tells how much was cut.
struct TCappedFile {
  int fd;
  std::uint64_t limit;
  char* buffer;
  std::size_t bufferSize;
  off_t size = 0;          // the file's length
  off_t contentStart = 0;  // where the output begins (after the cut's line)
  std::uint64_t cut = 0;   // output bytes cut so far

  void Add(const char* data, std::size_t n) {
    if (WriteAllAt(fd, data, n, size)) size += static_cast<off_t>(n);  // a full disk loses it, the relay reads on
    if (limit > 0 && static_cast<std::uint64_t>(size) > limit) Compact();
  }

  void Compact() {
    const off_t keep = static_cast<off_t>(limit / 2);
    off_t from = size - keep;
    // The kept part starts at a line where one starts soon enough.
    const ssize_t window = pread(fd, buffer, std::min<std::size_t>(bufferSize, 4096), from);
    for (ssize_t i = 0; i < window; ++i) {
      if (buffer[i] == '\n') {
        from += i + 1;
        break;
      }
    }
    cut += static_cast<std::uint64_t>(from - contentStart);
    char line[160];
    std::size_t length = Append(line, 0, "[QarSnc: the first ");
    length += FormatNumber(cut, line + length);
    length = Append(line, length, " bytes of this output were cut; the last ");
    length += FormatNumber(limit / (1024 * 1024) ? limit / (1024 * 1024) : 1, line + length);
    length = Append(line, length, " MB at most are kept]\n");
    off_t to = static_cast<off_t>(length);
    for (off_t at = from; at < size;) {
      const ssize_t n = pread(fd, buffer, std::min<std::size_t>(bufferSize, static_cast<std::size_t>(size - at)), at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || !WriteAllAt(fd, buffer, static_cast<std::size_t>(n), to)) break;
      at += n;
      to += n;
    }
    WriteAllAt(fd, line, length, 0);
    if (ftruncate(fd, to) == 0) size = to;
    contentStart = static_cast<off_t>(length);
  }
};

[[noreturn]] void RunRelay(int in, TCappedFile file) {
  for (;;) {
    const ssize_t n = read(in, file.buffer, file.bufferSize);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    file.Add(file.buffer, static_cast<std::size_t>(n));
  }
  _exit(0);
}

}  // namespace

TStartedChild StartChild(const std::string& path, const std::string& params,
                         const std::vector<std::string>& environment, const TNewFile* output,
                         std::uint64_t outputLimit) {
  // Everything the children need is prepared here: between fork and exec (and in the
  // relay, which does not exec) only async-signal-safe calls may run.
  std::string file = AnsiToUtf8(path);
  const std::string argument = AnsiToUtf8(params);
  char* argv[3] = {file.data(), params.empty() ? nullptr : const_cast<char*>(argument.c_str()), nullptr};
  std::vector<std::string> items;
  for (const std::string& item : environment) items.push_back(AnsiToUtf8(item));
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view existing(*e);
    const bool replaced = std::any_of(items.begin(), items.end(), [&](const std::string& item) {
      const std::size_t eq = item.find('=');
      return existing.substr(0, eq + 1) == std::string_view(item).substr(0, eq + 1);
    });
    if (!replaced) envp.push_back(*e);
  }
  for (std::string& item : items) envp.push_back(item.data());
  envp.push_back(nullptr);
  const int outputFd = output != nullptr && output->Ok() ? static_cast<int>(output->Native()) : -1;
  std::vector<char> relayBuffer(outputFd >= 0 ? 64 * 1024 : 0);

  struct sigaction defaultAction {};
  defaultAction.sa_handler = SIG_DFL;
  sigemptyset(&defaultAction.sa_mask);
  sigset_t emptyMask;
  sigemptyset(&emptyMask);

  // The child's output: through a pipe to the relay.
  int outputPipe[2] = {-1, -1};
  if (outputFd >= 0 && pipe2(outputPipe, O_CLOEXEC) != 0) return {Failure(errno), {}, {}};
  UniqueFd pipeRead(outputPipe[0]);
  UniqueFd pipeWrite(outputPipe[1]);
  if (outputFd >= 0) {
    const pid_t relay = fork();
    if (relay < 0) return {Failure(errno), {}, {}};
    if (relay == 0) {
      // A session of its own, then a grandchild that the system adopts: it outlives
      // the agent, is never its zombie, and a cancel of the worker's group spares it.
      if (setsid() < 0) _exit(1);
      const pid_t grandchild = fork();
      if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
      prctl(PR_SET_NAME, "qarsnc-output");  // not taken for an agent by the restarter
      for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &defaultAction, nullptr);
      sigprocmask(SIG_SETMASK, &emptyMask, nullptr);
      const int in = fcntl(outputPipe[0], F_DUPFD, 10), out = fcntl(outputFd, F_DUPFD, 10);
      if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(1);
      // Nothing else stays open: the pipe's write end (or the relay would wait for
      // itself), the agent's database and locks.
#ifdef CLOSE_RANGE_CLOEXEC
      close_range(2, ~0U, 0);
#else
      for (int fd = 2; fd < 1024; ++fd) close(fd);
#endif
      TCappedFile capped{1, outputLimit, relayBuffer.data(), relayBuffer.size()};
      const off_t end = lseek(1, 0, SEEK_END);
      capped.size = end > 0 ? end : 0;
      RunRelay(0, capped);
    }
    while (waitpid(relay, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  const int childOutput = outputPipe[1];

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {Failure(errno), {}, {}};
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);
  const pid_t child = fork();
  if (child < 0) return {Failure(errno), {}, {}};
  if (child == 0) {
    if (setsid() < 0) ReportAndExit(fds[1]);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = childOutput >= 0 ? childOutput : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (in < 0 || out < 0) ReportAndExit(fds[1]);
    if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) ReportAndExit(fds[1]);
#ifdef CLOSE_RANGE_CLOEXEC
    close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
#else
    for (int fd = 3; fd < 1024; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
    for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &defaultAction, nullptr);
    sigprocmask(SIG_SETMASK, &emptyMask, nullptr);
    execve(file.c_str(), argv, envp.data());
    ReportAndExit(fds[1]);
  }
  // Held before anything else can reap it: until reaped its id stays its own.
  const long pidfd = syscall(SYS_pidfd_open, child, 0);
  const int pidfdError = errno;
  TProcessHandle process(static_cast<std::uint32_t>(child), pidfd >= 0 ? pidfd : -1, true);
  writeEnd.Reset();
  pipeRead.Reset();
  pipeWrite.Reset();  // the relay ends once the child and whatever inherited its output have closed it
  int childError = 0;
  ssize_t n;
  do {
    n = read(readEnd.Get(), &childError, sizeof childError);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof childError)) {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return {Failure(childError), {}, {}};
  }
  std::string warning;
  if (pidfd < 0) warning = "pidfd_open failed (" + SystemText(pidfdError) + "): the worker is watched by polling";
  return {{true, 0, {}}, std::move(process), std::move(warning)};
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

std::string CurrentUserName() {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return Utf8ToAnsi(found->pw_name);
  return std::to_string(getuid());
}

namespace {

// Reads a small /proc file whole into `buffer` (cleared first); false when it cannot be opened.
bool ReadProcFile(const char* path, std::string& buffer) {
  buffer.clear();
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return false;
  char chunk[8192];
  for (;;) {
    const ssize_t n = read(fd.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// The fields of /proc/<pid>/stat the process table uses; false for a zombie or a
// process that is gone.
struct TStat {
  std::uint32_t parent = 0, group = 0, session = 0;
  std::uint64_t start = 0;
};

bool ParseStat(std::string_view stat, TStat& out) {
  // The fields after the name, which ends at the last ')': state is the 3rd field,
  // then ppid, pgrp, session; starttime is the 22nd.
  const std::size_t close = stat.rfind(')');
  if (close == std::string_view::npos) return false;
  std::string_view rest = stat.substr(close + 1);
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
  if (count < 20 || fields[0] == "Z" || fields[0] == "X") return false;
  const auto number = [](std::string_view text, auto& value) {
    return std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc();
  };
  return number(fields[1], out.parent) && number(fields[2], out.group) && number(fields[3], out.session) &&
         number(fields[19], out.start);
}

bool ReadStat(std::uint32_t pid, TStat& out, std::string& buffer) {
  char path[40];
  std::snprintf(path, sizeof path, "/proc/%u/stat", pid);
  return ReadProcFile(path, buffer) && ParseStat(buffer, out);
}

}  // namespace

std::string ProcessInstance(std::uint32_t pid) {
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return {};
  TStat stat;
  std::string buffer;
  if (!ReadStat(pid, stat, buffer)) return {};
  return std::to_string(pid) + "@" + std::to_string(stat.start) + "@" + SystemSteadyStamp().boot;
}

std::optional<std::uint64_t> InstanceStart(const std::string& instance, std::uint32_t pid) {
  const std::string prefix = std::to_string(pid) + "@";
  const std::string suffix = "@" + SystemSteadyStamp().boot;
  if (pid == 0 || !instance.starts_with(prefix) || !instance.ends_with(suffix) ||
      instance.size() <= prefix.size() + suffix.size())
    return std::nullopt;
  const std::string_view start =
      std::string_view(instance).substr(prefix.size(), instance.size() - prefix.size() - suffix.size());
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(start.data(), start.data() + start.size(), value);
  if (error != std::errc() || end != start.data() + start.size()) return std::nullopt;
  return value;
}

std::vector<TProcessEntry> ListProcesses(const std::vector<std::string>& marks) {
  std::vector<TProcessEntry> processes;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir("/proc"), &closedir);
  if (!dir) return processes;
  const uid_t uid = getuid();
  const std::size_t markCount = std::min<std::size_t>(marks.size(), 32);
  std::string buffer;
  char path[48];
  while (const dirent* entry = readdir(dir.get())) {
    std::uint32_t pid = 0;
    if (!ParsePid(entry->d_name, pid)) continue;
    TStat stat;
    if (!ReadStat(pid, stat, buffer)) continue;
    TProcessEntry process{pid, stat.parent, stat.group, stat.session, stat.start, 0};
    if (markCount > 0) {
      // Only this user's: another's environment is not readable, and not its business.
      struct stat owner {};
      const int length = std::snprintf(path, sizeof path, "/proc/%u", pid);
      const bool own = ::stat(path, &owner) == 0 && owner.st_uid == uid;
      std::snprintf(path + length, sizeof path - static_cast<std::size_t>(length), "/environ");
      if (own && ReadProcFile(path, buffer)) {
        for (std::size_t at = 0; at < buffer.size();) {
          const std::size_t end = std::min(buffer.find('\0', at), buffer.size());
          const std::string_view item = std::string_view(buffer).substr(at, end - at);
          for (std::size_t i = 0; i < markCount; ++i)
            if (item == marks[i]) process.marks |= 1u << i;
          at = end + 1;
        }
      }
    }
    processes.push_back(process);
  }
  return processes;
}

ProcessResult TerminateProcessInstance(std::uint32_t pid, std::uint64_t start) {
  const ProcessResult kEnded{true, 0, {}};
  if (pid == 0 || pid > static_cast<std::uint32_t>(INT32_MAX)) return kEnded;
  // Held first, so that the process checked is the one signalled.
  const long pidfd = syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0);
  if (pidfd < 0 && errno == ESRCH) return kEnded;
  const TProcessHandle held(pid, pidfd >= 0 ? pidfd : -1);
  TStat stat;
  std::string buffer;
  if (!ReadStat(pid, stat, buffer) || stat.start != start) return kEnded;  // gone, or its id is another's now
  if (pidfd >= 0) return held.Terminate();
  // Without pidfds: checked just before.
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0 || errno == ESRCH ? kEnded : Failure(errno);
}

std::string ProcessCommandLine(std::uint32_t pid, std::size_t maxLength) {
  std::string buffer;
  char path[40];
  std::snprintf(path, sizeof path, "/proc/%u/cmdline", pid);
  if (pid == 0 || !ReadProcFile(path, buffer)) return {};
  while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
  if (buffer.size() > maxLength) buffer.resize(maxLength);
  for (char& c : buffer)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return Utf8ToAnsi(buffer);
}

bool RunningUnderWine() { return false; }

std::string HostFileName(const std::string& path) { return path; }

std::string SignalName(int signal) {
  if (signal >= SIGRTMIN && signal <= SIGRTMAX) return "SIGRTMIN+" + std::to_string(signal - SIGRTMIN);
  const char* abbreviation = signal > 0 ? ::sigabbrev_np(signal) : nullptr;
  return abbreviation ? std::string("SIG") + abbreviation : std::string();
}

}  // namespace qar::platform
