// Server settings when the registry file may be read but not written.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "diagnostics_sandbox.h"
#include "unprivileged_posix.h"

namespace qar::diagnostics {

// In a directory that the unprivileged user of the check reaches.
class SettingsPosixTest : public testing::DiagnosticsSandbox {
 protected:
  SettingsPosixTest() : DiagnosticsSandbox(::qar::testing::ReachableScratchDirectory()) {}
};

// The settings key is opened for full access, as on Windows, so a process that may
// read but not write it falls back on every setting.
TEST_F(SettingsPosixTest, AKeyTheProcessMayNotWriteGivesEveryFallback) {
  Store("TunningID=#1|SqlMonitor=#2|SqlMonUser=ANA|TmpFileDir=" + LogDir());
  const std::string file = Dir() + "HKLM.reg";
  ASSERT_EQ(::chmod(file.c_str(), 0444) | ::chmod(Dir().c_str(), 0755), 0);
  const int failed = ::qar::testing::RunUnprivileged([] {
    platform::RegistryKey key;  // readable all the same
    if (key.Open(kWebSrvKey, false, platform::RegAccess::kRead) != platform::RegStatus::kOk) return 1;
    ResetMonitorSettingsForTest();
    return testing::Answers({"ANA"}) == "00 0 0 temp" ? 0 : 2;
  });
  EXPECT_EQ(failed, 0) << "1: the key could not be read; 2: a setting was taken from a key that may not be written";
  ::chmod(file.c_str(), 0644);
}

}  // namespace qar::diagnostics
