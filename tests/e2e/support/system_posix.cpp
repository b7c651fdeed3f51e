// POSIX: children through posix_spawn, reaped with waitpid.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <stdexcept>

#include "installation.h"

extern char** environ;

namespace qar::e2e {

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const std::string& workDir, const std::string& outputBase) {
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::unique_ptr<posix_spawn_file_actions_t, int (*)(posix_spawn_file_actions_t*)> destroy(
      &actions, posix_spawn_file_actions_destroy);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (outputBase + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (outputBase + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  pid_t pid = 0;
  if (const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ); error != 0) {
    throw std::runtime_error("cannot start " + path + ": " + std::strerror(error));
  }
  pid_ = static_cast<std::uint32_t>(pid);
}

std::optional<int> ChildProcess::ExitCode() {
  int status = 0;
  if (!exitCode_ && waitpid(static_cast<pid_t>(pid_), &status, WNOHANG) == static_cast<pid_t>(pid_)) {
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return exitCode_;
}

}  // namespace qar::e2e
