#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qar::platform {
namespace {

TEST(CommandLineArgumentsTest, Utf8ArgumentsBecomeAnsiAndUnrepresentableOnesAreRefused) {
  char program[] = "QarCfg.exe";
  char accented[] = "S\xC3\xA3o Jo\xC3\xA3o";  // "São João" in UTF-8
  char plain[] = "list";
  char* argv[] = {program, plain, accented, nullptr};
  EXPECT_EQ(CommandLineArguments(3, argv), (std::vector<std::string>{"list", "S\xE3o Jo\xE3o"}));

  char cyrillic[] = "\xD0\x96";  // no Windows-1252 form: never turned into '?'
  char* withCyrillic[] = {program, cyrillic, nullptr};
  EXPECT_THROW(CommandLineArguments(2, withCyrillic), std::runtime_error);
  char broken[] = "\xC3";  // not UTF-8
  char* withBroken[] = {program, broken, nullptr};
  EXPECT_THROW(CommandLineArguments(2, withBroken), std::runtime_error);
}

}  // namespace
}  // namespace qar::platform
