// Windows only: value types this system does not write.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

// An expandable string reads as text, not expanded; four binary bytes are no DWORD.
TEST(RegistryWin32, ExpandStringsReadAsTextAndOtherTypesAsWrongType) {
  ScratchRegistry scratch;
  RegistryKey key;
  ASSERT_EQ(key.Open(scratch.KeyPath(), true), RegStatus::kOk) << key.LastError();
  HKEY raw = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, scratch.KeyPath().c_str(), 0, KEY_SET_VALUE, &raw), ERROR_SUCCESS);
  const BYTE expand[] = "%TEMP%\\logs";
  RegSetValueExA(raw, "Expand", 0, REG_EXPAND_SZ, expand, sizeof expand);
  RegSetValueExA(raw, "Binary", 0, REG_BINARY, expand, 4);
  RegCloseKey(raw);
  std::string text;
  std::int32_t number = 0;
  EXPECT_EQ(key.ReadString("Expand", text), RegStatus::kOk) << key.LastError();
  EXPECT_EQ(text, "%TEMP%\\logs");
  EXPECT_EQ(key.ReadInteger("Binary", number), RegStatus::kWrongType);
}

}  // namespace
}  // namespace qar::platform
