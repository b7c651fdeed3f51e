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
// Windows: the throw-away registry of the test prefix, the value removed afterwards).
class GeralQarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::TempDirectory() + "qar_geralqar_" + std::to_string(platform::CurrentProcessId());
    std::filesystem::create_directories(platform::ToNativePath(dir_));
    platform::SetEnv("QARSNC_HKLM", dir_ + platform::kPathDelim + "HKLM.reg");
    ASSERT_EQ(key_.Open(sSiteWebSrvKey, true), platform::RegStatus::kOk) << key_.LastError();
    key_.DeleteValue(kStringConexValue);
  }
  void TearDown() override {
    while (!ConnectionListLines().empty()) FinalizeGeralQar();
    key_.DeleteValue(kStringConexValue);
    std::filesystem::remove_all(platform::ToNativePath(dir_));
  }
  platform::RegistryKey key_;
  std::string dir_;
};

// An absent value still lists "211="; a stored one is read once until the last unit user
// ends; the empty key and "211" select it, other keys nothing.
TEST_F(GeralQarTest, RegistryIsReadOnceUntilTheUnitEnds) {
  InitializeGeralQar();
  EXPECT_EQ(ConnectionListLines(), std::vector<std::string>{"211="});
  FinalizeGeralQar();
  key_.WriteString(kStringConexValue, platform::EncryptSecret("first"));
  InitializeGeralQar();
  key_.WriteString(kStringConexValue, platform::EncryptSecret("second"));
  InitializeGeralQar();  // counted: no second read
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
  key_.WriteString(kStringConexValue, "Provider=SQLite;Data Source=plain.db");
  EXPECT_THROW(InitializeGeralQar(), platform::ESecretError);
  key_.WriteInteger(kStringConexValue, 5);
  EXPECT_THROW(InitializeGeralQar(), std::runtime_error);
}

}  // namespace
}  // namespace qar::config
