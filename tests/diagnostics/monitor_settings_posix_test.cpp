// Server settings when the registry file may be read but not written.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "diagnostics_sandbox.h"

namespace qar::diagnostics {

using SettingsPosixTest = testing::DiagnosticsSandbox;

// The settings key is opened for full access, as on Windows, so a process that may
// read but not write it falls back on every setting. Root may write any file: the
// check then runs in a child that has dropped to an unprivileged user ("nobody").
TEST_F(SettingsPosixTest, AKeyTheProcessMayNotWriteGivesEveryFallback) {
  Store("TunningID=#1|SqlMonitor=#2|SqlMonUser=ANA|TmpFileDir=" + LogDir());
  const std::string file = Dir() + "HKLM.reg";
  ASSERT_EQ(::chmod(file.c_str(), 0444) | ::chmod(Dir().c_str(), 0755), 0);
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
          std::_Exit(100);
        platform::RegistryKey key;  // readable all the same
        if (key.Open(kWebSrvKey, false, platform::RegAccess::kRead) != platform::RegStatus::kOk) std::_Exit(101);
        ResetMonitorSettingsForTest();
        std::_Exit(testing::Answers({"ANA"}) == "00 0 0 temp" ? 0 : 102);
      },
      ::testing::ExitedWithCode(0), "");
  ::chmod(file.c_str(), 0644);
}

}  // namespace qar::diagnostics
