// POSIX only: what a detached start leaves behind, the errno it reports, and zombies.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

#include "helpers/helper_process.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::platform {
namespace {

using test::HelperPath;

// Field `index` of /proc/<pid>/stat after the name (1: parent, 3: session).
std::string StatField(pid_t pid, int index) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line, field;
  std::getline(in, line);
  std::istringstream rest(line.substr(line.rfind(')') + 1));
  for (int i = 0; i <= index; ++i) rest >> field;
  return field;
}

// The started program survives our end and leaves no zombie behind.
TEST(ProcessStartPosix, StartedProgramHasItsOwnSessionAndLeavesNoChildOfTheStarter) {
  test::StartedHelper helper("sleep");
  ASSERT_NE(helper.Pid(), 0u);
  const auto pid = static_cast<pid_t>(helper.Pid());
  EXPECT_NE(StatField(pid, 1), std::to_string(getpid()));   // parent
  EXPECT_NE(StatField(pid, 3), std::to_string(getsid(0)));  // session
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

TEST(ProcessStartPosix, ExecDirectoryAndLengthFailuresCarryTheirErrno) {
  const std::string notExecutable = test::UniqueTempFile("plain");
  std::ofstream(notExecutable) << "#!/bin/sh\n";
  chmod(notExecutable.c_str(), 0644);
  const std::size_t limit = MaxStartParamsLength(HelperPath());
  const struct {
    ProcessResult result;
    int error;
  } cases[] = {
      {StartDetached(ExtractFilePath(HelperPath()) + "NoSuchProgram.exe", {}), ENOENT},
      {StartDetached(notExecutable, {}), EACCES},
      {StartDetached(HelperPath(), "sleep|/nonexistent", "/nonexistent-qarsnc-dir"), ENOENT},
      // The limit the agent checks before a start is exactly the system's.
      {StartDetached(HelperPath(), std::string(limit, 'x')), 0},
      {StartDetached(HelperPath(), std::string(limit + 1, 'x')), E2BIG},
  };
  std::remove(notExecutable.c_str());
  for (const auto& c : cases) EXPECT_EQ(c.result.error, c.error) << c.result.message;
  EXPECT_EQ(cases[0].result.message, "No such file or directory");
}

}  // namespace
}  // namespace qar::platform
