#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "helpers/helper_process.h"
#include "platform/module.h"

namespace qar::platform {
namespace {

using test::HelperPath;
using test::ListedName;
using test::OneParameter;
using test::StartedHelper;
using test::StartHelper;
using test::UniqueTempFile;
using test::WaitFor;
using test::WaitForFile;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ProcessSnapshot, ListsThisProcessUnderItsExecutableName) {
  const ProcessSnapshot snapshot = SnapshotProcesses();
  ASSERT_TRUE(snapshot.ok) << snapshot.error;
  // "platform_tests.exe" is longer than the 15 bytes POSIX keeps of a name.
  EXPECT_EQ(ListedName(CurrentProcessId()), ExtractFileName(ExecutableFileName()));
}

TEST(ProcessStart, StartedProgramIsListedByItsFullNameUntilTerminated) {
  StartedHelper helper(StartHelper("sleep"));
  ASSERT_NE(helper.Pid(), 0u) << "the helper did not start: " << HelperPath();
  EXPECT_EQ(ListedName(helper.Pid()), std::string(test::kHelperName));

  const ProcessResult killed = TerminateProcessById(helper.Pid());
  ASSERT_TRUE(killed.ok) << killed.message;
  EXPECT_TRUE(WaitFor([&] { return !ListedName(helper.Pid()).has_value(); }))
      << "still listed after termination";
}

TEST(ProcessStart, ParameterStringArrivesWholeAsOneArgument) {
  const std::string file = UniqueTempFile("record");
  // Blanks and shell characters: nothing may split or expand them.
  const std::string params = "record|" + file + "|two words; $HOME `id` * && x";
  const ProcessResult started = StartDetached(HelperPath(), OneParameter(params));
  ASSERT_TRUE(started.ok) << started.message;

  const std::vector<std::string> lines = Lines(WaitForFile(file));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1");
  EXPECT_EQ(lines[2], params);
}

TEST(ProcessStart, RunsInTheGivenWorkingDirectory) {
  const std::string file = UniqueTempFile("cwd");
  const std::string dir = ExtractFileDir(ExecutableFileName());
  const ProcessResult started = StartDetached(HelperPath(), OneParameter("record|" + file), dir);
  ASSERT_TRUE(started.ok) << started.message;

  const std::vector<std::string> lines = Lines(WaitForFile(file));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(std::filesystem::equivalent(ToNativePath(lines[1]), ToNativePath(dir)))
      << lines[1] << " is not " << dir;
}

TEST(ProcessStart, MissingProgramIsReportedWithTheSystemsError) {
  const std::string missing = ExtractFilePath(ExecutableFileName()) + "NoSuchProgram.exe";
  const ProcessResult started = StartDetached(missing, "x");
  EXPECT_FALSE(started.ok);
  EXPECT_NE(started.error, 0);
  EXPECT_FALSE(started.message.empty());
}

TEST(ProcessTerminate, IdThatNamesNoProcessIsReportedAsFailure) {
  // Above every real process id on both systems; nothing is signalled.
  const ProcessResult result = TerminateProcessById(0x7FFFFFFFu);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, 0);
  EXPECT_FALSE(result.message.empty());
}

// The name completion of POSIX process names is plain text work: checked everywhere.
TEST(ProcessNames, StatLineNameIsReadBetweenFirstAndLastParenthesis) {
  std::string comm;
  char state = '\0';
  ASSERT_TRUE(procfs::ParseStat("42 (a) b (c)) S 1 42 42 0 -1", comm, state));
  EXPECT_EQ(comm, "a) b (c)");
  EXPECT_EQ(state, 'S');
  ASSERT_TRUE(procfs::ParseStat("7 (QarTab.exe) Z 1", comm, state));
  EXPECT_EQ(state, 'Z');
  EXPECT_FALSE(procfs::ParseStat("42 no name here", comm, state));
  EXPECT_FALSE(procfs::ParseStat("42 (cut)", comm, state));
}

TEST(ProcessNames, NameCutAtFifteenIsCompletedFromArgvOrExecutable) {
  EXPECT_EQ(procfs::CompleteName("QarPlatformTest", "/opt/q/QarPlatformTestHelper.exe", ""),
            "QarPlatformTestHelper.exe");
  // argv[0] rewritten by the program: the executable's path still tells.
  EXPECT_EQ(procfs::CompleteName("QarPlatformTest", "helper: busy", "/opt/q/QarPlatformTestHelper.exe"),
            "QarPlatformTestHelper.exe");
  // Replaced on disk while running.
  EXPECT_EQ(procfs::CompleteName("QarPlatformTest", "", "/opt/q/QarPlatformTestHelper.exe (deleted)"),
            "QarPlatformTestHelper.exe");
}

TEST(ProcessNames, NameIsKeptWhenNotCutOrNoLongerNameBeginsWithIt) {
  EXPECT_EQ(procfs::CompleteName("QarTab.exe", "/opt/q/QarTab.exe.old", "/opt/q/QarTab.exe.old"), "QarTab.exe");
  // A program that named itself keeps its chosen name.
  EXPECT_EQ(procfs::CompleteName("kworker/u8:1-ev", "", ""), "kworker/u8:1-ev");
  EXPECT_EQ(procfs::CompleteName("SyncWorkerThrea", "/usr/bin/python3", "/usr/bin/python3.11"), "SyncWorkerThrea");
  const std::string longName = "QarPlatformTest" + std::string(400, 'x');
  EXPECT_EQ(procfs::CompleteName("QarPlatformTest", "/" + longName, "").size(), kMaxExeName);
}

}  // namespace
}  // namespace qar::platform
