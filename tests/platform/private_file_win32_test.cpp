// Windows only: the access list of a service's token, judged as ReadPrivateFile judges it
// (Wine keeps no access list of a file but what its mode bits say, so the rule is tried here).
#include "platform/private_file_win32.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <memory>

namespace qar::platform {
namespace {

// Whether the descriptor `sddl` lets someone besides `reader` and the trusted accounts in.
bool LetsOthersIn(const std::string& sddl, const char* reader) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PSID readerSid = nullptr;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
  EXPECT_TRUE(ConvertStringSidToSidA(reader, &readerSid));
  const std::unique_ptr<void, decltype(&LocalFree)> freeDescriptor(descriptor, LocalFree), freeSid(readerSid, LocalFree);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  return OtherAccountAllowed(dacl, owner, readerSid) != nullptr;
}

// The maker, another administrator and the service (NETWORK SERVICE) read the token
// that an administrator made; once anyone else may read it, none does, nor, once the
// service may write it, anyone but the service.
TEST(PrivateFileWin32, AServiceTokenIsReadByItsMakerTheAdministratorsAndTheServiceAlone) {
  const std::string maker = "S-1-5-21-7-7-7-1001";
  const std::string made = ServiceSecretSddl(maker);
  for (const char* reader : {"S-1-5-21-7-7-7-1001", "S-1-5-21-7-7-7-500", "S-1-5-20"}) {
    EXPECT_FALSE(LetsOthersIn(made, reader)) << reader;
    EXPECT_TRUE(LetsOthersIn(made + "(A;;FR;;;WD)", reader)) << reader;
    EXPECT_TRUE(LetsOthersIn(made + "(A;;FR;;;S-1-5-21-7-7-7-1002)", reader)) << reader;
    EXPECT_EQ(LetsOthersIn(made + "(A;;FW;;;NS)", reader), std::string(reader) != "S-1-5-20") << reader;
  }
}

}  // namespace
}  // namespace qar::platform
