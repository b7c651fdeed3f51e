#include "config/GeralQar.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/secret.h"

namespace qar::config {
namespace {

// Each test gets its own HKEY_LOCAL_MACHINE (POSIX: a file in a fresh folder;
// Windows: the throw-away registry of the test prefix, values removed afterwards).
class GeralQarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::TempDirectory() + "qar_geralqar_" +
           std::to_string(platform::CurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(platform::ToNativePath(dir_));
    platform::SetEnv("QARSNC_HKLM", dir_ + platform::kPathDelim + "HKLM.reg");
    DeleteValue();
  }
  void TearDown() override {
    while (!ConnectionListLines().empty()) FinalizeGeralQar();
    DeleteValue();
    std::filesystem::remove_all(platform::ToNativePath(dir_));
  }
  static void DeleteValue() {
    platform::RegistryKey key;
    if (key.Open(sSiteWebSrvKey, false) == platform::RegStatus::kOk) key.DeleteValue("StringConex");
  }
  static void Store(const std::string& plain) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Open(sSiteWebSrvKey, true), platform::RegStatus::kOk) << key.LastError();
    ASSERT_EQ(key.WriteString("StringConex", platform::EncryptSecret(plain)), platform::RegStatus::kOk);
  }
  std::string dir_;
};

TEST_F(GeralQarTest, AbsentValueStillListsTheDefaultLine) {
  InitializeGeralQar();
  EXPECT_EQ(ConnectionListLines(), std::vector<std::string>{"211="});
  EXPECT_EQ(GetConnectionString(""), "");
}

// Read once until the unit ends; the empty key and "211" select it, other keys nothing.
TEST_F(GeralQarTest, RegistryIsReadOnceUntilTheUnitEnds) {
  Store("first");
  InitializeGeralQar();
  InitializeGeralQar();  // counted: no second read
  Store("second");
  EXPECT_EQ(GetConnectionString(""), "first");
  EXPECT_EQ(GetConnectionString("211"), "first");
  EXPECT_EQ(GetConnectionString("212"), "");
  EXPECT_EQ(ConnectionListLines().size(), 1u);
  FinalizeGeralQar();
  EXPECT_EQ(GetConnectionString(""), "first");  // still one unit user left
  FinalizeGeralQar();
  EXPECT_TRUE(ConnectionListLines().empty());
  InitializeGeralQar();
  EXPECT_EQ(GetConnectionString(""), "second");
}

TEST_F(GeralQarTest, AValueThatDoesNotDecryptOrIsNoStringStopsTheStart) {
  platform::RegistryKey key;
  ASSERT_EQ(key.Open(sSiteWebSrvKey, true), platform::RegStatus::kOk);
  key.WriteString("StringConex", "Provider=SQLite;Data Source=plain.db");
  EXPECT_THROW(InitializeGeralQar(), platform::SecretError);
  key.WriteInteger("StringConex", 5);
  EXPECT_THROW(InitializeGeralQar(), std::runtime_error);
}

}  // namespace
}  // namespace qar::config
