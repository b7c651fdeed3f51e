// The cached server settings against a real registry.
#include "diagnostics/monitor_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics_sandbox.h"
#include "platform/module.h"

namespace qar::diagnostics {
namespace {

using SettingsTest = testing::DiagnosticsSandbox;

TEST_F(SettingsTest, SwitchesKeepTheLowByteOfTheirDwordAndTheLevelIsSigned) {
  const struct {
    std::int32_t value;
    bool tunning, monitor;
    int level;
  } cases[] = {{1, true, true, 1}, {257, true, true, 1}, {2, false, true, 2},
               {256, false, false, 0}, {200, false, false, -56}};
  for (const auto& c : cases) {
    ResetMonitorSettingsForTest();
    SetInteger("TunningID", c.value);
    SetInteger("SqlMonitor", c.value);
    EXPECT_EQ(IsTunningOn(), c.tunning) << c.value;
    EXPECT_EQ(IsSqlMonitorOn(), c.monitor) << c.value;
    EXPECT_EQ(SqlMonitorLevel(), c.level) << c.value;
  }
}

// -1 (a dword of 255) is the "not read yet" marker: read again at every request.
TEST_F(SettingsTest, TheLevelIsMinusOneUntilAskedAndReadAgainWhileItReads255) {
  SetInteger("SqlMonitor", 255);
  EXPECT_EQ(SqlMonitorLevel(), -1);
  EXPECT_FALSE(IsSqlMonitorOn());
  SetInteger("SqlMonitor", 4);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 4);
}

TEST_F(SettingsTest, ValuesOnceReadAreKeptForTheProcess) {
  SetInteger("SqlMonitor", 1);
  SetInteger("TunningID", 1);
  SetString("TmpFileDir", "D:\\logs\\");
  EXPECT_TRUE(IsSqlMonitorOn() && IsTunningOn());
  EXPECT_EQ(GetTmpFileDir(), "D:\\logs\\");
  SetInteger("SqlMonitor", 0);
  SetInteger("TunningID", 0);
  SetString("TmpFileDir", "E:\\other");
  EXPECT_TRUE(IsSqlMonitorOn() && IsTunningOn());
  EXPECT_EQ(GetTmpFileDir(), "D:\\logs\\");
}

TEST_F(SettingsTest, AMissingOrMistypedSwitchStaysOffForTheProcess) {
  EXPECT_FALSE(IsTunningOn() || IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 0);
  SetInteger("TunningID", 1);
  SetInteger("SqlMonitor", 1);
  EXPECT_FALSE(IsTunningOn() || IsSqlMonitorOn());

  ResetMonitorSettingsForTest();
  SetString("TunningID", "1");
  SetString("SqlMonitor", "1");
  EXPECT_FALSE(IsTunningOn() || IsSqlMonitorOn());
}

// Nobody while the monitor is off. A missing or empty list monitors everybody;
// otherwise the operator (cut at 255 like the list) is searched in it as plain,
// case-sensitive text. A list reading "LOADREG" is read again at every request.
TEST_F(SettingsTest, TheOperatorListIsSearchedAsPlainTextCutAt255) {
  const std::string x255(255, 'x');
  const struct {
    int monitor;
    std::optional<std::string> list;
    std::vector<std::pair<std::string, bool>> operators;
  } cases[] = {
      {0, "ANA", {{"ANA", false}, {"", false}}},
      {1, std::nullopt, {{"ANA", true}, {"", true}}},
      {1, "", {{"PEDRO", true}, {"", true}}},
      {1, "ANA;PEDRO", {{"ANA", true}, {"ana", false}, {"AN", true}, {"A;P", true}, {"", false}, {"MARIA", false}}},
      {1, x255 + "ANA", {{"ANA", false}, {x255, true}, {x255 + "y", true}}},
      {1, "LOADREG", {{"LOAD", true}, {"ANA", false}}},
  };
  for (const auto& c : cases) {
    ResetMonitorSettingsForTest();
    SetInteger("SqlMonitor", c.monitor);
    c.list ? SetString("SqlMonUser", *c.list) : Remove("SqlMonUser");
    for (const auto& [user, monitored] : c.operators) {
      EXPECT_EQ(IsMonitoredUser(user), monitored) << c.list.value_or("(missing)").substr(0, 20) << " / " << user;
    }
  }
  SetString("SqlMonUser", "ANA");
  EXPECT_TRUE(IsMonitoredUser("ANA"));
}

TEST_F(SettingsTest, AMistypedOperatorListFailsOnceThenMonitorsEverybody) {
  SetInteger("SqlMonitor", 1);
  SetInteger("SqlMonUser", 7);
  EXPECT_FALSE(IsMonitoredUser("ANA"));
  EXPECT_TRUE(IsMonitoredUser("ANA"));
  EXPECT_TRUE(IsMonitoredUser("PEDRO"));
}

TEST_F(SettingsTest, TheLogDirectoryEndsWithASeparatorIsCutAt200AndDefaultsToTheTemporaryDirectory) {
  const std::string temp = platform::TempDirectory();
  const struct {
    std::optional<std::string> value;
    std::string expected;
  } cases[] = {{"D:\\logs", std::string("D:\\logs") + platform::kPathDelim},
               {"D:\\logs\\", "D:\\logs\\"},
               {std::string(250, 'd'), std::string(200, 'd')},  // no separator after the cut
               {"", temp},
               {std::nullopt, temp}};
  for (const auto& c : cases) {
    ResetMonitorSettingsForTest();
    c.value ? SetString("TmpFileDir", *c.value) : Remove("TmpFileDir");
    EXPECT_EQ(GetTmpFileDir(), c.expected) << c.value.value_or("(missing)");
  }
  ResetMonitorSettingsForTest();
  SetInteger("TmpFileDir", 5);  // mistyped: fails once, then the temporary directory
  EXPECT_EQ(GetTmpFileDir(), "");
  EXPECT_EQ(GetTmpFileDir(), temp);
}

// Without serialised first reads a thread could see the provisional "off" of a
// read in progress on another thread.
TEST_F(SettingsTest, ConcurrentFirstReadsAllSeeTheRegistryValues) {
  SetInteger("SqlMonitor", 2);
  SetString("SqlMonUser", "ANA;PEDRO");
  SetString("TmpFileDir", LogDir());
  constexpr int kThreads = 8;
  std::vector<int> monitored(kThreads, 0);
  std::vector<std::string> dirs(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        monitored[i] = IsMonitoredUser("PEDRO") ? 1 : 0;
        dirs[i] = GetTmpFileDir();
      });
    }
  }
  EXPECT_EQ(monitored, std::vector<int>(kThreads, 1));
  EXPECT_EQ(dirs, std::vector<std::string>(kThreads, LogDir()));
  EXPECT_EQ(SqlMonitorLevel(), 2);
}

}  // namespace
}  // namespace qar::diagnostics
