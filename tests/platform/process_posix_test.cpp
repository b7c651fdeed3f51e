// POSIX only: what a detached start leaves behind, and the errno it reports.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "helpers/helper_process.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::platform {
namespace {

using test::HelperPath;
using test::ListedName;
using test::StartedHelper;
using test::StartHelper;
using test::UniqueTempFile;
using test::WaitFor;

// Fields of /proc/<pid>/stat after the name: state, ppid, pgrp, session, ...
std::vector<std::string> StatFields(std::uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::vector<std::string> fields;
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return fields;
  std::istringstream rest(line.substr(close + 1));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

// Every process whose parent is this one, zombies included.
std::vector<std::uint32_t> OwnChildren() {
  std::vector<std::uint32_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::vector<std::string> fields = StatFields(static_cast<std::uint32_t>(std::stoul(name)));
    if (fields.size() > 1 && fields[1] == std::to_string(getpid())) {
      children.push_back(static_cast<std::uint32_t>(std::stoul(name)));
    }
  }
  return children;
}

TEST(ProcessStartPosix, StartedProgramHasItsOwnSessionAndLeavesNoChildOrZombieOfTheStarter) {
  StartedHelper helper(StartHelper("sleep"));
  ASSERT_NE(helper.Pid(), 0u);
  const std::vector<std::string> fields = StatFields(helper.Pid());
  ASSERT_GT(fields.size(), 3u);
  EXPECT_NE(fields[1], std::to_string(getpid()));   // parent
  EXPECT_NE(fields[3], std::to_string(getsid(0)));  // session: it survives our end
  EXPECT_TRUE(OwnChildren().empty());
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  // Once ended, it is listed nowhere, also not as a zombie.
  ASSERT_TRUE(TerminateProcessById(helper.Pid()).ok);
  EXPECT_TRUE(WaitFor([&] { return !ListedName(helper.Pid()).has_value(); }));
}

TEST(ProcessSnapshotPosix, ZombiesAreNotListed) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  const auto pid = static_cast<std::uint32_t>(child);
  // Not reaped yet: it has ended, and only its parent has not noticed.
  const bool zombie = WaitFor([&] {
    const std::vector<std::string> fields = StatFields(pid);
    return !fields.empty() && fields[0] == "Z";
  });
  const bool listed = ListedName(pid).has_value();
  waitpid(child, nullptr, 0);
  ASSERT_TRUE(zombie);
  EXPECT_FALSE(listed);
}

TEST(ProcessStartPosix, ExecOrDirectoryFailureCarriesItsErrno) {
  const std::string notExecutable = UniqueTempFile("plain");
  std::ofstream(notExecutable) << "#!/bin/sh\n";
  chmod(notExecutable.c_str(), 0644);
  const ProcessResult missing = StartDetached(ExtractFilePath(HelperPath()) + "NoSuchProgram.exe", {});
  const ProcessResult refused = StartDetached(notExecutable, {});
  const ProcessResult noDir = StartDetached(HelperPath(), "exit|/nonexistent", "/nonexistent-qarsnc-dir");
  std::remove(notExecutable.c_str());
  EXPECT_FALSE(missing.ok || refused.ok || noDir.ok);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(missing.message, "No such file or directory");
  EXPECT_EQ(refused.error, EACCES);
  EXPECT_EQ(noDir.error, ENOENT);
}

TEST(ProcessStartPosix, RelativePathIsTakenFromTheCallersDirectory) {
  const std::string dir = ExtractFileDir(HelperPath());
  const std::string previous = std::filesystem::current_path().string();
  std::filesystem::current_path(dir);
  const std::string file = UniqueTempFile("rel");
  const ProcessResult started = StartDetached(test::kHelperName, "record|" + file, "/");
  std::filesystem::current_path(previous);
  ASSERT_TRUE(started.ok) << started.message;
  EXPECT_NE(test::WaitForFile(file), "");
}

}  // namespace
}  // namespace qar::platform
