// Server settings when the process may read the WebSrv key but not write it.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/monitor_settings.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using SettingsWin32Test = testing::DiagnosticsSandbox;

// Gives the key a DACL that lets everybody read it and nobody write it, and puts
// the key's own DACL back when it goes.
class KeyWriteDenied {
 public:
  KeyWriteDenied() {
    const std::string path(kWebSrvKey);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | WRITE_DAC, &key_) !=
        ERROR_SUCCESS) {
      return;
    }
    DWORD size = 0;
    RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, nullptr, &size);
    saved_.resize(size);
    if (size == 0 || RegGetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data(), &size) !=
                         ERROR_SUCCESS) {
      return;
    }
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                              &readOnly, nullptr)) {
      return;
    }
    applied_ = RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
    LocalFree(readOnly);
  }
  ~KeyWriteDenied() {
    if (applied_) RegSetKeySecurity(key_, DACL_SECURITY_INFORMATION, saved_.data());
    if (key_ != nullptr) RegCloseKey(key_);
  }
  KeyWriteDenied(const KeyWriteDenied&) = delete;
  KeyWriteDenied& operator=(const KeyWriteDenied&) = delete;
  bool Applied() const { return applied_; }

 private:
  HKEY key_ = nullptr;
  std::vector<BYTE> saved_;
  bool applied_ = false;
};

TEST_F(SettingsWin32Test, AKeyTheProcessMayNotWriteGivesEveryFallback) {
  SetInteger("TunningID", 1);
  SetInteger("SqlMonitor", 2);
  SetString("SqlMonUser", "ANA");
  SetString("TmpFileDir", LogDir());
  {
    KeyWriteDenied denied;
    ASSERT_TRUE(denied.Applied());
    platform::RegistryKey probe;
    if (probe.Open(kWebSrvKey, true) == platform::RegStatus::kOk) {
      GTEST_SKIP() << "this system grants write access despite the key's DACL";
    }
    platform::RegistryKey reader;
    std::int32_t level = 0;
    ASSERT_EQ(reader.Open(kWebSrvKey, false, platform::RegAccess::kRead), platform::RegStatus::kOk);
    ASSERT_EQ(reader.ReadInteger("SqlMonitor", level), platform::RegStatus::kOk);
    EXPECT_EQ(level, 2);

    EXPECT_FALSE(IsTunningOn());
    EXPECT_FALSE(IsSqlMonitorOn());
    EXPECT_EQ(SqlMonitorLevel(), 0);
    EXPECT_FALSE(IsMonitoredUser("ANA"));
    EXPECT_EQ(GetTmpFileDir(), platform::TempDirectory());
  }
}

}  // namespace
}  // namespace qar::diagnostics
