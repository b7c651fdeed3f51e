// POSIX: checks run as an unprivileged user, and a scratch place that user reaches.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/module.h"

namespace qar::testing {

// The directory QAR_TEST_REACHABLE_DIR names, ending with '/' (scripts/test makes one, 0755,
// under the system's temporary directory: the checkout may lie where only its owner enters);
// else the temporary directory.
inline std::string ReachableScratchDirectory() {
  const char* dir = std::getenv("QAR_TEST_REACHABLE_DIR");
  if (dir == nullptr || *dir == '\0') return platform::TempDirectory();
  const std::string path = dir;
  return path.back() == '/' ? path : path + '/';
}

// check()'s result (0: every expectation held). Root may write any file: under root the check
// runs in a child that dropped to "nobody" (100: it could not; 101: it died).
template <typename Check>
int RunUnprivileged(Check check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child == 0) _exit(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 ? check() : 100);
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

}  // namespace qar::testing
