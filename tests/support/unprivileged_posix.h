// POSIX: checks that run as an unprivileged user, and a scratch place that user reaches.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/module.h"

namespace qar::testing {

// Where a suite keeps the files an unprivileged user must reach, ending with '/': the
// directory QAR_TEST_REACHABLE_DIR names (scripts/test makes one, mode 0755, under the
// system's temporary directory, because the checkout may lie where only its owner enters),
// else the temporary directory.
inline std::string ReachableScratchDirectory() {
  const char* dir = std::getenv("QAR_TEST_REACHABLE_DIR");
  if (dir == nullptr || *dir == '\0') return platform::TempDirectory();
  std::string path = dir;
  return path.back() == '/' ? path : path + '/';
}

// check()'s result (0: every expectation held). Root may write any file, so under root
// the check runs in a child that dropped to "nobody" (100: it could not; 101: it died).
template <typename Check>
int RunUnprivileged(Check check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child == 0) _exit(::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0 ? check() : 100);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return 101;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

}  // namespace qar::testing
