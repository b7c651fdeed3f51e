// Server settings when the registry file may be read but not written, or not opened at all.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "diagnostics/monitor_settings.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using SettingsPosixTest = testing::DiagnosticsSandbox;

constexpr uid_t kNobody = 65534;

// Bit per fallback that did not hold, so a failing child says which.
int CheckFallbacks() {
  int failures = 0;
  if (IsTunningOn()) failures |= 1;
  if (IsSqlMonitorOn() || SqlMonitorLevel() != 0) failures |= 2;
  if (IsMonitoredUser("ANA")) failures |= 4;
  if (GetTmpFileDir() != platform::TempDirectory()) failures |= 8;
  return failures;
}

void StoreEverySetting(const std::string& logDir) {
  using Sandbox = testing::DiagnosticsSandbox;
  Sandbox::SetInteger("TunningID", 1);
  Sandbox::SetInteger("SqlMonitor", 2);
  Sandbox::SetString("SqlMonUser", "ANA");
  Sandbox::SetString("TmpFileDir", logDir);
}

// The settings key is opened for full access, as on Windows, so a process that
// may read but not write it falls back on every setting. Root may write any file:
// the check then runs in a child that has dropped to an unprivileged user.
TEST_F(SettingsPosixTest, AKeyTheProcessMayNotWriteGivesEveryFallback) {
  StoreEverySetting(LogDir());
  const std::string file = Dir() + "HKLM.reg";
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(Dir().c_str(), 0755), 0);

  EXPECT_EXIT(
      {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
          std::_Exit(100);
        }
        // The values are there and readable: only the write access is refused.
        platform::RegistryKey key;
        std::int32_t level = 0;
        if (key.Open(kWebSrvKey, false, platform::RegAccess::kRead) != platform::RegStatus::kOk ||
            key.ReadInteger("SqlMonitor", level) != platform::RegStatus::kOk || level != 2) {
          std::_Exit(101);
        }
        ResetMonitorSettingsForTest();
        std::_Exit(CheckFallbacks());
      },
      ::testing::ExitedWithCode(0), "");
  ::chmod(file.c_str(), 0644);
}

TEST_F(SettingsPosixTest, ARegistryThatCannotBeOpenedGivesEveryFallback) {
  StoreEverySetting(LogDir());
  // A path below a regular file can be neither read nor created.
  platform::SetEnv("QARSNC_HKLM", Dir() + "HKLM.reg" + platform::kPathDelim + "HKLM.reg");
  ResetMonitorSettingsForTest();
  EXPECT_EQ(CheckFallbacks(), 0);
  platform::SetEnv("QARSNC_HKLM", Dir() + "HKLM.reg");
}

}  // namespace
}  // namespace qar::diagnostics
