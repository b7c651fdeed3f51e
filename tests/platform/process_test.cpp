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

TEST(ProcessStart, ParameterStringArrivesWholeInTheGivenWorkingDirectory) {
  const std::string file = UniqueTempFile("record");
  // Blanks and shell characters: nothing may split or expand them.
  const std::string params = "record|" + file + "|two words; $HOME `id` * && x";
  const std::string dir = ExtractFileDir(ExecutableFileName());
  const ProcessResult started = StartDetached(HelperPath(), OneParameter(params), dir);
  ASSERT_TRUE(started.ok) << started.message;

  const std::vector<std::string> lines = Lines(WaitForFile(file));  // arguments, cwd, each argument
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "1");
  EXPECT_TRUE(std::filesystem::equivalent(ToNativePath(lines[1]), ToNativePath(dir)))
      << lines[1] << " is not " << dir;
  EXPECT_EQ(lines[2], params);
}

TEST(ProcessStart, MissingProgramOrProcessIsReportedWithTheSystemsError) {
  const std::string missing = ExtractFilePath(ExecutableFileName()) + "NoSuchProgram.exe";
  // Above every real process id on both systems; nothing is signalled.
  for (const ProcessResult& result : {StartDetached(missing, "x"), TerminateProcessById(0x7FFFFFFFu)}) {
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error, 0);
    EXPECT_FALSE(result.message.empty());
  }
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

// A name cut at 15 bytes is completed from argv[0] or the executable's path; a
// name not cut, or one that no longer name begins with, is kept.
TEST(ProcessNames, NameCutAtFifteenIsCompletedOnlyFromANameThatBeginsWithIt) {
  const std::string helper = "/opt/q/QarPlatformTestHelper.exe";
  const struct {
    const char* comm;
    std::string cmdline, exe, expected;
  } cases[] = {
      {"QarPlatformTest", helper, "", "QarPlatformTestHelper.exe"},
      {"QarPlatformTest", "helper: busy", helper, "QarPlatformTestHelper.exe"},  // argv[0] rewritten
      {"QarPlatformTest", "", helper + " (deleted)", "QarPlatformTestHelper.exe"},  // replaced on disk
      {"QarTab.exe", "/opt/q/QarTab.exe.old", "/opt/q/QarTab.exe.old", "QarTab.exe"},
      {"kworker/u8:1-ev", "", "", "kworker/u8:1-ev"},  // a program that named itself
      {"SyncWorkerThrea", "/usr/bin/python3", "/usr/bin/python3.11", "SyncWorkerThrea"},
  };
  for (const auto& c : cases) EXPECT_EQ(procfs::CompleteName(c.comm, c.cmdline, c.exe), c.expected) << c.comm;
  const std::string longName = "QarPlatformTest" + std::string(400, 'x');
  EXPECT_EQ(procfs::CompleteName("QarPlatformTest", "/" + longName, "").size(), kMaxExeName);
}

}  // namespace
}  // namespace qar::platform
