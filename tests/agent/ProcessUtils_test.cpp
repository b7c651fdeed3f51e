#include "agent/ProcessUtils.h"

#include <gtest/gtest.h>

#include "../platform/helpers/helper_process.h"

namespace qar::agent {
namespace {

TEST(ProcessNameMatches, IgnoresTheCaseOfAToZOnly) {
  EXPECT_TRUE(ProcessNameMatches("QarTab.exe", "qartab.EXE"));
  EXPECT_TRUE(ProcessNameMatches("QarTab.exe", "Qartab.exe"));
  EXPECT_FALSE(ProcessNameMatches("Qar\xC7.exe", "qar\xE7.exe"));  // accented letters match exactly
  EXPECT_TRUE(ProcessNameMatches("Qar\xE7.exe", "QAR\xE7.EXE"));
  EXPECT_FALSE(ProcessNameMatches("QarTab.exe.bak", "QarTab.exe"));
}

TEST(ProcessNameMatches, AFullPathMatchesThroughItsFileNameOrAsAWhole) {
  EXPECT_TRUE(ProcessNameMatches("C:\\Agent\\QarTab.exe", "qartab.exe"));
  EXPECT_TRUE(ProcessNameMatches("C:QarTab.exe", "QarTab.exe"));
  EXPECT_TRUE(ProcessNameMatches("C:\\Agent\\QarTab.exe", "c:\\agent\\QARTAB.exe"));
  EXPECT_FALSE(ProcessNameMatches("QarTab.exe", "C:\\Agent\\QarTab.exe"));
}

TEST(ProcessUtils, NoMatchingProcessMeansNotRunningAndNothingKilled) {
  const std::string name = "NoSuchProgram-7f3a9.exe";
  EXPECT_FALSE(IsProcessRunning(name));
  KillProcessByName(name);  // must not throw or terminate anything
}

// The helper's name is longer than the 15 characters POSIX keeps as a short name.
TEST(ProcessUtils, FindsAndStopsEveryProcessOfALongNameIgnoringCase) {
  namespace test = platform::test;
  test::StartedHelper first(test::StartHelper("sleep"));
  test::StartedHelper second(test::StartHelper("sleep"));
  ASSERT_NE(first.Pid(), 0u);
  ASSERT_NE(second.Pid(), 0u);
  EXPECT_TRUE(IsProcessRunning("qarplatformtesthelper.EXE"));
  EXPECT_FALSE(IsProcessRunning("QarPlatformTestHelp"));  // a cut name is not the name
  KillProcessByName("QARPLATFORMTESTHELPER.exe");
  EXPECT_TRUE(test::WaitFor([&] {
    return !test::ListedName(first.Pid()) && !test::ListedName(second.Pid());
  }));
  EXPECT_FALSE(IsProcessRunning(test::kHelperName));
}

}  // namespace
}  // namespace qar::agent
