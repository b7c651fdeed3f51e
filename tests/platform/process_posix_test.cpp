// POSIX only: what a detached start leaves behind, the errno it reports, and zombies.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "helpers/helper_process.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::platform {
namespace {

using test::HelperPath;

// The started program survives our end and leaves no zombie behind: it is no child of ours.
TEST(ProcessStartPosix, StartedProgramHasItsOwnSessionAndLeavesNoChildOfTheStarter) {
  test::StartedHelper helper("sleep");
  ASSERT_NE(helper.Pid(), 0u);
  EXPECT_NE(getsid(static_cast<pid_t>(helper.Pid())), getsid(0));
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
