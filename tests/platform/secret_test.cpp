// The connection-string cipher on both builds: round trips and every way a stored value can be bad.
#include "platform/secret.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

class SecretTest : public ::testing::Test {
 protected:
  ScratchRegistry scratch_;  // POSIX: the machine key goes to a temp directory
};

// The message of the SecretError that decrypting `stored` raises; empty if none.
std::string DecryptFailure(const std::string& stored) {
  try {
    DecryptSecret(stored);
  } catch (const SecretError& e) {
    return e.what();
  }
  return {};
}

bool IsPrintableAscii(const std::string& text) {
  for (char c : text) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

TEST_F(SecretTest, EveryByteValueSurvivesARoundTripAndEachEncryptionDiffers) {
  EXPECT_EQ(EncryptSecret(""), "");
  EXPECT_EQ(DecryptSecret(""), "");
  std::string plain;
  for (int b = 0; b < 256; ++b) plain += static_cast<char>(b);
  const std::string stored = EncryptSecret(plain);
  EXPECT_TRUE(stored.starts_with("QS1:") || stored.starts_with("QD1:")) << stored;
  EXPECT_TRUE(IsPrintableAscii(stored)) << "stored in a registry string as printable text";
  EXPECT_EQ(DecryptSecret(stored), plain);
  EXPECT_NE(EncryptSecret(plain), stored);
}

// Wine's DPAPI does not authenticate every header field of its blob (a changed
// hash length still decrypts, to the right text) and ignores bytes after its end:
// there, only the ciphertext and the fingerprint are checked.
TEST_F(SecretTest, TamperedDamagedOrForeignValueIsRefusedWithoutQuotingIt) {
  const std::string stored = EncryptSecret("Provider=SQLOLEDB.1;Password=segredo");
  const std::string prefix = stored.substr(0, 4);
  const std::string otherPlatform = (prefix == "QS1:" ? "QD1:" : "QS1:") + stored.substr(4);
  std::vector<std::string> bad = {"Provider=SQLOLEDB.1;Password=segredo;User ID=sa",  // never encrypted
                                  otherPlatform, prefix, prefix + "!!!!", prefix + "QUJD",
                                  prefix + "QUJD\n", stored.substr(0, stored.size() - 4), stored + " "};
  if (!RunningUnderWine()) bad.push_back(stored + "QUJD");
  for (std::size_t at = 4; at < stored.size() && stored[at] != '='; ++at) {
    if (RunningUnderWine() && at != 4 && at != stored.size() - 12 && at != stored.size() - 5) continue;
    bad.push_back(stored);
    bad.back()[at] = stored[at] == 'A' ? 'B' : 'A';  // still base64, other bytes
  }
  for (const std::string& value : bad) {
    SCOPED_TRACE(value);
    const std::string message = DecryptFailure(value);
    EXPECT_NE(message, "");
    EXPECT_EQ(message.find("segredo"), std::string::npos) << message;
  }
  EXPECT_NE(DecryptFailure(otherPlatform).find(otherPlatform.substr(0, 4)), std::string::npos);
}

}  // namespace
}  // namespace qar::platform
