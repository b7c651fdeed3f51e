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

// Field `index` of /proc/<pid>/stat after the name (0: state, 1: parent, 3: session).
std::string StatField(pid_t pid, int index) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream rest(line.substr(line.rfind(')') + 1));
  std::string field;
  for (int i = 0; i <= index; ++i) rest >> field;
  return field;
}

TEST(ProcessStartPosix, StartedProgramHasItsOwnSessionAndLeavesNoChildOrZombieOfTheStarter) {
  test::StartedHelper helper(test::StartHelper("sleep"));
  ASSERT_NE(helper.Pid(), 0u);
  const auto pid = static_cast<pid_t>(helper.Pid());
  EXPECT_NE(StatField(pid, 1), std::to_string(getpid()));   // parent
  EXPECT_NE(StatField(pid, 3), std::to_string(getsid(0)));  // session: it survives our end
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// A zombie has ended: only its parent has yet to notice.
TEST(ProcessStartPosix, AZombieIsNotARunningProcessOfItsFile) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  const bool zombie = test::WaitFor([&] { return StatField(child, 0) == "Z"; });
  bool listed = false;
  for (const TProcessHandle& process : FindProcessesOfFile(ExecutableFileName())) {
    listed = listed || process.Pid() == static_cast<std::uint32_t>(child);
  }
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(zombie);
  EXPECT_FALSE(listed);
}

TEST(ProcessStartPosix, ExecDirectoryAndLengthFailuresCarryTheirErrno) {
  const std::string notExecutable = test::UniqueTempFile("plain");
  std::ofstream(notExecutable) << "#!/bin/sh\n";
  chmod(notExecutable.c_str(), 0644);
  const ProcessResult missing = StartDetached(ExtractFilePath(HelperPath()) + "NoSuchProgram.exe", {});
  const ProcessResult refused = StartDetached(notExecutable, {});
  const ProcessResult noDir = StartDetached(HelperPath(), "exit|/nonexistent", "/nonexistent-qarsnc-dir");
  const std::size_t limit = MaxStartParamsLength(HelperPath());
  const ProcessResult longest = StartDetached(HelperPath(), std::string(limit, 'x'));
  const ProcessResult tooLong = StartDetached(HelperPath(), std::string(limit + 1, 'x'));
  std::remove(notExecutable.c_str());
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(missing.message, "No such file or directory");
  EXPECT_EQ(refused.error, EACCES);
  EXPECT_EQ(noDir.error, ENOENT);
  // The limit the agent checks before a start is exactly the system's.
  EXPECT_TRUE(longest.ok) << longest.message;
  EXPECT_EQ(tooLong.error, E2BIG);
}

}  // namespace
}  // namespace qar::platform
