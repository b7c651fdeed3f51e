// POSIX: children through posix_spawn, reaped with waitpid; executables read from /proc.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "child_process.h"
#include "platform/process.h"
#include "platform/text.h"
#include "wait_until.h"

extern char** environ;

namespace qar::e2e {

struct ChildProcess::Impl {
  pid_t pid = -1;
  std::optional<int> exitCode;

  // Reaps the child when it has ended; `block` waits for it.
  void Reap(bool block) {
    if (exitCode || pid <= 0) return;
    int status = 0;
    pid_t result;
    do {
      result = waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != pid) return;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

namespace {

// posix_spawn's attribute and file-action objects, destroyed however the start ends.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::string& workDir, const std::string& stdoutFile,
                           const std::string& stderrFile)
    : impl_(std::make_unique<Impl>()) {
  const std::string file = platform::AnsiToUtf8(path);
  const std::string out = platform::AnsiToUtf8(stdoutFile);
  const std::string err = platform::AnsiToUtf8(stderrFile);
  const std::string dir = platform::AnsiToUtf8(workDir);
  std::vector<std::string> utf8Args;
  for (const std::string& arg : args) utf8Args.push_back(platform::AnsiToUtf8(arg));
  std::vector<char*> argv{const_cast<char*>(file.c_str())};
  for (std::string& arg : utf8Args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&setup.actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&setup.actions, dir.c_str());
  // The test runner's blocked signals must not reach the program under test.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK);
  const int error = posix_spawn(&impl_->pid, file.c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
  if (error != 0) {
    throw std::runtime_error("cannot start " + path + ": " + std::generic_category().message(error));
  }
}

ChildProcess::~ChildProcess() { Kill(); }

std::uint32_t ChildProcess::Pid() const { return static_cast<std::uint32_t>(impl_->pid); }

bool ChildProcess::Running() {
  impl_->Reap(false);
  return !impl_->exitCode.has_value();
}

std::optional<int> ChildProcess::Wait(double seconds) {
  WaitUntil([this] { return !Running(); }, seconds);
  return impl_->exitCode;
}

void ChildProcess::Kill() {
  if (!Running()) return;
  kill(impl_->pid, SIGKILL);
  impl_->Reap(true);
}

std::optional<int> ChildProcess::ExitCode() {
  impl_->Reap(false);
  return impl_->exitCode;
}

std::vector<std::uint32_t> ProcessesOfFile(const std::string& exePath) {
  std::error_code ec;
  const std::filesystem::path wanted =
      std::filesystem::weakly_canonical(platform::AnsiToUtf8(exePath), ec);
  std::vector<std::uint32_t> pids;
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    const std::filesystem::path exe =
        std::filesystem::read_symlink("/proc/" + std::to_string(entry.pid) + "/exe", ec);
    if (!ec && exe == wanted) pids.push_back(entry.pid);
  }
  return pids;
}

}  // namespace qar::e2e
