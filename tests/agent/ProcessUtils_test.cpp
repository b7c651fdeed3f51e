#include "agent/ProcessUtils.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qar::agent
