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

TEST_F(SettingsTest, SqlMonitorLevelIsMinusOneUntilAskedAnd255IsReadAgainAtEveryRequest) {
  SetInteger("SqlMonitor", 255);
  EXPECT_EQ(SqlMonitorLevel(), -1);
  EXPECT_FALSE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), -1);
  SetInteger("SqlMonitor", 4);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 4);
}

TEST_F(SettingsTest, ValuesOnceReadAreKeptForTheProcess) {
  SetInteger("SqlMonitor", 1);
  SetInteger("TunningID", 1);
  SetString("TmpFileDir", "D:\\logs\\");
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_TRUE(IsTunningOn());
  EXPECT_EQ(GetTmpFileDir(), "D:\\logs\\");
  SetInteger("SqlMonitor", 0);
  SetInteger("TunningID", 0);
  SetString("TmpFileDir", "E:\\other");
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_TRUE(IsTunningOn());
  EXPECT_EQ(GetTmpFileDir(), "D:\\logs\\");
}

TEST_F(SettingsTest, AMissingOrMistypedSwitchStaysOffForTheProcess) {
  EXPECT_FALSE(IsTunningOn());
  EXPECT_FALSE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 0);
  SetInteger("TunningID", 1);
  SetInteger("SqlMonitor", 1);
  EXPECT_FALSE(IsTunningOn());
  EXPECT_FALSE(IsSqlMonitorOn());

  ResetMonitorSettingsForTest();
  SetString("TunningID", "1");
  SetString("SqlMonitor", "1");
  EXPECT_FALSE(IsTunningOn());
  EXPECT_FALSE(IsSqlMonitorOn());
}

TEST_F(SettingsTest, NobodyIsMonitoredWhileTheMonitorIsOff) {
  SetInteger("SqlMonitor", 0);
  SetString("SqlMonUser", "ANA");
  EXPECT_FALSE(IsMonitoredUser("ANA"));
  EXPECT_FALSE(IsMonitoredUser(""));
}

// A missing or empty list monitors everybody; otherwise the operator (cut at 255
// like the list) is searched in it as plain case-sensitive text.
TEST_F(SettingsTest, TheOperatorListIsSearchedAsPlainTextCutAt255) {
  const std::string x255(255, 'x');
  const struct {
    std::optional<std::string> list;
    std::vector<std::pair<std::string, bool>> operators;
  } cases[] = {
      {std::nullopt, {{"ANA", true}, {"", true}}},
      {"", {{"PEDRO", true}, {"", true}}},
      {"ANA;PEDRO", {{"ANA", true}, {"ana", false}, {"AN", true}, {"A;P", true}, {"", false}, {"MARIA", false}}},
      {x255 + "ANA", {{"ANA", false}, {x255, true}, {x255 + "y", true}}},
  };
  for (const auto& c : cases) {
    ResetMonitorSettingsForTest();
    SetInteger("SqlMonitor", 1);
    c.list ? SetString("SqlMonUser", *c.list) : Remove("SqlMonUser");
    for (const auto& [user, monitored] : c.operators) {
      EXPECT_EQ(IsMonitoredUser(user), monitored) << c.list.value_or("(missing)").substr(0, 20) << " / " << user;
    }
  }
}

TEST_F(SettingsTest, AnOperatorListReadingLOADREGIsReadAgainAtEveryRequest) {
  SetInteger("SqlMonitor", 1);
  SetString("SqlMonUser", "LOADREG");
  EXPECT_TRUE(IsMonitoredUser("LOAD"));
  EXPECT_FALSE(IsMonitoredUser("ANA"));
  SetString("SqlMonUser", "ANA");
  EXPECT_TRUE(IsMonitoredUser("ANA"));
  EXPECT_FALSE(IsMonitoredUser("LOAD"));
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
               {std::string(250, 'd'), std::string(200, 'd')},  // no separator added after the cut
               {"", temp},
               {std::nullopt, temp}};
  for (const auto& c : cases) {
    ResetMonitorSettingsForTest();
    c.value ? SetString("TmpFileDir", *c.value) : Remove("TmpFileDir");
    EXPECT_EQ(GetTmpFileDir(), c.expected) << c.value.value_or("(missing)");
  }
}

TEST_F(SettingsTest, AMistypedLogDirectoryFailsOnceThenGivesTheTemporaryDirectory) {
  SetInteger("TmpFileDir", 5);
  EXPECT_EQ(GetTmpFileDir(), "");
  EXPECT_EQ(GetTmpFileDir(), platform::TempDirectory());
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
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(monitored[i], 1) << "thread " << i;
    EXPECT_EQ(dirs[i], LogDir()) << "thread " << i;
  }
  EXPECT_EQ(SqlMonitorLevel(), 2);
}

}  // namespace
}  // namespace qar::diagnostics
