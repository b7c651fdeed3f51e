// The cached server settings against a real registry.
#include "diagnostics/monitor_settings.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "diagnostics_sandbox.h"
#include "platform/module.h"

namespace qar::diagnostics {
namespace {

using SettingsTest = testing::DiagnosticsSandbox;

TEST_F(SettingsTest, SqlMonitorKeepsTheLowByteAsASignedLevel) {
  SetInteger("SqlMonitor", 2);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 2);

  ResetMonitorSettingsForTest();
  SetInteger("SqlMonitor", 256);
  EXPECT_FALSE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 0);

  ResetMonitorSettingsForTest();
  SetInteger("SqlMonitor", 200);
  EXPECT_FALSE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), -56);
}

TEST_F(SettingsTest, SqlMonitorLevelIsMinusOneUntilTheMonitorIsAsked) {
  SetInteger("SqlMonitor", 3);
  EXPECT_EQ(SqlMonitorLevel(), -1);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 3);
}

TEST_F(SettingsTest, SqlMonitorOf255IsReadAgainAtEveryRequest) {
  SetInteger("SqlMonitor", 255);
  EXPECT_FALSE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), -1);
  SetInteger("SqlMonitor", 4);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_EQ(SqlMonitorLevel(), 4);
}

TEST_F(SettingsTest, ValuesOnceReadAreKeptForTheProcess) {
  SetInteger("SqlMonitor", 1);
  SetInteger("TunningID", 1);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_TRUE(IsTunningOn());
  SetInteger("SqlMonitor", 0);
  SetInteger("TunningID", 0);
  EXPECT_TRUE(IsSqlMonitorOn());
  EXPECT_TRUE(IsTunningOn());
}

TEST_F(SettingsTest, TunningIsOnOnlyForALowByteOfOne) {
  for (const std::int32_t value : {1, 257}) {
    ResetMonitorSettingsForTest();
    SetInteger("TunningID", value);
    EXPECT_TRUE(IsTunningOn()) << value;
  }
  ResetMonitorSettingsForTest();
  SetInteger("TunningID", 2);
  EXPECT_FALSE(IsTunningOn());
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

TEST_F(SettingsTest, AnEmptyOrMissingOperatorListMonitorsEverybody) {
  SetInteger("SqlMonitor", 1);
  EXPECT_TRUE(IsMonitoredUser("ANA"));
  EXPECT_TRUE(IsMonitoredUser(""));

  ResetMonitorSettingsForTest();
  SetString("SqlMonUser", "");
  EXPECT_TRUE(IsMonitoredUser("PEDRO"));
  EXPECT_TRUE(IsMonitoredUser(""));
}

TEST_F(SettingsTest, TheOperatorListIsSearchedAsPlainCaseSensitiveText) {
  SetInteger("SqlMonitor", 1);
  SetString("SqlMonUser", "ANA;PEDRO");
  EXPECT_TRUE(IsMonitoredUser("ANA"));
  EXPECT_FALSE(IsMonitoredUser("ana"));
  EXPECT_TRUE(IsMonitoredUser("AN"));
  EXPECT_TRUE(IsMonitoredUser("A;P"));
  EXPECT_FALSE(IsMonitoredUser(""));
  EXPECT_FALSE(IsMonitoredUser("MARIA"));
}

TEST_F(SettingsTest, TheOperatorListIsCutAt255Characters) {
  SetInteger("SqlMonitor", 1);
  SetString("SqlMonUser", std::string(255, 'x') + "ANA");
  EXPECT_FALSE(IsMonitoredUser("ANA"));
  EXPECT_TRUE(IsMonitoredUser(std::string(255, 'x')));
  // The operator is cut too before it is looked up.
  EXPECT_TRUE(IsMonitoredUser(std::string(255, 'x') + "y"));
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

TEST_F(SettingsTest, TheLogDirectoryEndsWithASeparator) {
  SetString("TmpFileDir", "D:\\logs");
  EXPECT_EQ(GetTmpFileDir(), std::string("D:\\logs") + platform::kPathDelim);

  ResetMonitorSettingsForTest();
  SetString("TmpFileDir", "D:\\logs\\");
  EXPECT_EQ(GetTmpFileDir(), "D:\\logs\\");

  // Kept for the process once read.
  SetString("TmpFileDir", "E:\\other");
  EXPECT_EQ(GetTmpFileDir(), "D:\\logs\\");
}

TEST_F(SettingsTest, ALongLogDirectoryIsCutAt200WithoutASeparator) {
  SetString("TmpFileDir", std::string(250, 'd'));
  EXPECT_EQ(GetTmpFileDir(), std::string(200, 'd'));
}

TEST_F(SettingsTest, AMissingOrEmptyLogDirectoryMeansTheSystemTemporaryDirectory) {
  EXPECT_EQ(GetTmpFileDir(), platform::TempDirectory());
  ResetMonitorSettingsForTest();
  SetString("TmpFileDir", "");
  EXPECT_EQ(GetTmpFileDir(), platform::TempDirectory());
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
