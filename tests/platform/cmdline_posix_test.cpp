#include "platform/cmdline.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qar::platform {
namespace {

// UTF-8 arguments become ANSI; one without a Windows-1252 form (never turned into
// '?') or not UTF-8 at all is refused.
TEST(CommandLineArgumentsTest, Utf8ArgumentsBecomeAnsiAndUnrepresentableOnesAreRefused) {
  char program[] = "QarCfg.exe", plain[] = "list", accented[] = "S\xC3\xA3o Jo\xC3\xA3o", cyrillic[] = "\xD0\x96",
       broken[] = "\xC3";
  char* argv[] = {program, plain, accented, nullptr};
  EXPECT_EQ(CommandLineArguments(3, argv), (std::vector<std::string>{"list", "S\xE3o Jo\xE3o"}));
  for (char* bad : {cyrillic, broken}) {
    char* withBad[] = {program, bad, nullptr};
    EXPECT_THROW(CommandLineArguments(2, withBad), std::runtime_error) << bad;
  }
}

}  // namespace
}  // namespace qar::platform
