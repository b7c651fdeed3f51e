// Windows: the worker is found and stopped by executable name, as on every installation.
#include "agent/process_utils.h"

#include <gtest/gtest.h>

#include <tuple>

#include "../platform/helpers/helper_process.h"

namespace qar::agent {
namespace {

TEST(ProcessUtils, NamesMatchIgnoringTheCaseOfAToZAndEveryProcessOfTheNameIsFoundAndStopped) {
  for (const auto& [exe, name, matches] :
       {std::tuple{"QarTab.exe", "qartab.EXE", true}, {"Qar\xC7.exe", "qar\xE7.exe", false}, {"Qar\xE7.exe", "QAR\xE7.EXE", true},
        {"QarTab.exe.bak", "QarTab.exe", false}, {"C:\\Agent\\QarTab.exe", "qartab.exe", true},
        {"C:QarTab.exe", "QarTab.exe", true}, {"C:\\Agent\\QarTab.exe", "c:\\agent\\QARTAB.exe", true},
        {"QarTab.exe", "C:\\Agent\\QarTab.exe", false}}) {
    EXPECT_EQ(ProcessNameMatches(exe, name), matches) << exe << " " << name;
  }
  namespace test = platform::test;
  EXPECT_FALSE(IsProcessRunning("NoSuchProgram-7f3a9.exe"));
  test::StartedHelper first("sleep"), second("sleep");
  ASSERT_TRUE(first.Pid() != 0 && second.Pid() != 0);
  EXPECT_TRUE(IsProcessRunning("qarplatformtesthelper.EXE"));
  KillProcessByName("QARPLATFORMTESTHELPER.exe");
  EXPECT_TRUE(test::WaitFor([&] { return !IsProcessRunning(test::kHelperName); }));
}

}  // namespace
}  // namespace qar::agent
