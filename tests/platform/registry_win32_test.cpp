// Windows only: the registry types this system does not write, and the absence of a registry file.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/registry.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

TEST(RegistryWin32, ExpandStringsReadAsTextAndOtherTypesAsWrongType) {
  ScratchRegistry scratch;
  RegistryKey key;
  ASSERT_EQ(key.Open(scratch.KeyPath(), true), RegStatus::kOk) << key.LastError();
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, scratch.KeyPath().c_str(), 0, KEY_SET_VALUE, &raw),
            ERROR_SUCCESS);
  const char expand[] = "%TEMP%\\logs";
  const BYTE binary[] = {1, 2, 3, 4};
  const unsigned long long quad = 5;
  RegSetValueExA(raw, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand);
  RegSetValueExA(raw, "Binary", 0, REG_BINARY, binary, sizeof binary);
  RegSetValueExA(raw, "Quad", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&quad), sizeof quad);
  RegCloseKey(raw);

  std::string text;
  std::int32_t number = 0;
  EXPECT_EQ(key.ReadString("Expand", text), RegStatus::kOk) << key.LastError();
  EXPECT_EQ(text, "%TEMP%\\logs") << "not expanded";
  EXPECT_EQ(key.ReadString("Binary", text), RegStatus::kWrongType);
  EXPECT_EQ(key.ReadInteger("Binary", number), RegStatus::kWrongType) << "four bytes, but not a dword";
  EXPECT_EQ(key.ReadInteger("Quad", number), RegStatus::kWrongType);
}

TEST(RegistryWin32, FailureTextCarriesTheSystemsCode) {
  ScratchRegistry scratch;
  RegistryKey key;
  EXPECT_EQ(key.Open(scratch.KeyPath() + "\\Missing", false), RegStatus::kNotFound);
  EXPECT_NE(key.LastError().find("error 2"), std::string::npos) << key.LastError();
}

TEST(RegistryWin32, ThereIsNoRegistryFile) { EXPECT_EQ(RegistryFilePath(), ""); }

}  // namespace
}  // namespace qar::platform
