// Windows: the worker is found and stopped by executable name, as on every installation.
#include "agent/ProcessUtils.h"

#include <gtest/gtest.h>

#include "../platform/helpers/helper_process.h"

namespace qar::agent {
namespace {

TEST(ProcessNameMatches, IgnoresTheCaseOfAToZOnlyAndMatchesAFileNameOrAWholePath) {
  const struct {
    const char *exe, *name;
    bool matches;
  } cases[] = {
      {"QarTab.exe", "qartab.EXE", true},
      {"Qar\xC7.exe", "qar\xE7.exe", false},  // accented letters match exactly
      {"Qar\xE7.exe", "QAR\xE7.EXE", true},
      {"QarTab.exe.bak", "QarTab.exe", false},
      {"C:\\Agent\\QarTab.exe", "qartab.exe", true},
      {"C:QarTab.exe", "QarTab.exe", true},
      {"C:\\Agent\\QarTab.exe", "c:\\agent\\QARTAB.exe", true},
      {"QarTab.exe", "C:\\Agent\\QarTab.exe", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ProcessNameMatches(c.exe, c.name), c.matches) << c.exe << " " << c.name;
}

TEST(ProcessUtils, FindsAndStopsEveryProcessOfANameIgnoringCase) {
  namespace test = platform::test;
  EXPECT_FALSE(IsProcessRunning("NoSuchProgram-7f3a9.exe"));
  test::StartedHelper first(test::StartHelper("sleep"));
  test::StartedHelper second(test::StartHelper("sleep"));
  ASSERT_NE(first.Pid(), 0u);
  ASSERT_NE(second.Pid(), 0u);
  EXPECT_TRUE(IsProcessRunning("qarplatformtesthelper.EXE"));
  KillProcessByName("QARPLATFORMTESTHELPER.exe");
  EXPECT_TRUE(test::WaitFor([&] { return !IsProcessRunning(test::kHelperName); }));
}

}  // namespace
}  // namespace qar::agent
