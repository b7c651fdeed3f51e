// The connection-string cipher on both builds: round trips and every way a stored value can be bad.
#include "platform/secret.h"

#include <gtest/gtest.h>

#include <string>

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

TEST_F(SecretTest, EmptyTextStaysEmptyBothWays) {
  EXPECT_EQ(EncryptSecret(""), "");
  EXPECT_EQ(DecryptSecret(""), "");
}

TEST_F(SecretTest, EveryByteValueSurvivesARoundTrip) {
  std::string plain;
  for (int b = 0; b < 256; ++b) plain += static_cast<char>(b);
  const std::string stored = EncryptSecret(plain);
  EXPECT_TRUE(stored.starts_with("QS1:") || stored.starts_with("QD1:")) << stored;
  EXPECT_TRUE(IsPrintableAscii(stored)) << "stored in a registry string as printable text";
  EXPECT_EQ(DecryptSecret(stored), plain);

  const std::string connection = "Provider=SQLOLEDB.1;Password=\xE7\xE3o;User ID=sa";
  const std::string again = EncryptSecret(connection);
  EXPECT_EQ(again.find("Password"), std::string::npos);
  EXPECT_EQ(DecryptSecret(again), connection);
}

TEST_F(SecretTest, EncryptingTheSameTextTwiceGivesDifferentValues) {
  const std::string first = EncryptSecret("Password=segredo");
  const std::string second = EncryptSecret("Password=segredo");
  EXPECT_NE(first, second);
  EXPECT_EQ(DecryptSecret(first), DecryptSecret(second));
}

std::string ChangeCharacter(std::string stored, std::size_t at) {
  stored[at] = stored[at] == 'A' ? 'B' : 'A';  // still base64, other bytes
  return stored;
}

TEST_F(SecretTest, TamperedValueIsRefused) {
  const std::string stored = EncryptSecret("Provider=SQLOLEDB.1;Password=segredo");
  for (std::size_t at : {std::size_t{4}, stored.size() - 12, stored.size() - 5}) {
    SCOPED_TRACE(at);
    EXPECT_NE(DecryptFailure(ChangeCharacter(stored, at)), "");
  }
}

TEST_F(SecretTest, ChangingAnyCharacterOfAValueIsRefused) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's DPAPI does not authenticate every header field of its blob (a "
                    "changed hash length still decrypts, to the right text); its ciphertext "
                    "and fingerprint are checked, see TamperedValueIsRefused";
  }
  const std::string stored = EncryptSecret("Provider=SQLOLEDB.1;Password=segredo");
  for (std::size_t at = 4; at < stored.size() && stored[at] != '='; ++at) {
    SCOPED_TRACE(at);
    EXPECT_NE(DecryptFailure(ChangeCharacter(stored, at)), "");
  }
}

TEST_F(SecretTest, TextThatWasNeverEncryptedIsRefusedWithoutQuotingIt) {
  const std::string plain = "Provider=SQLOLEDB.1;Password=segredo;User ID=sa";
  const std::string message = DecryptFailure(plain);
  EXPECT_NE(message, "");
  EXPECT_EQ(message.find("segredo"), std::string::npos) << message;
}

TEST_F(SecretTest, ValueFromTheOtherPlatformIsRefused) {
  const std::string stored = EncryptSecret("Password=segredo");
  const std::string other = (stored.starts_with("QS1:") ? "QD1:" : "QS1:") + stored.substr(4);
  const std::string message = DecryptFailure(other);
  EXPECT_NE(message.find(other.substr(0, 4)), std::string::npos) << message;
}

TEST_F(SecretTest, DamagedOrTruncatedValueIsRefused) {
  const std::string stored = EncryptSecret("Password=segredo");
  const std::string prefix = stored.substr(0, 4);
  for (const std::string& bad : {prefix, prefix + "!!!!", prefix + "QUJD", prefix + "QUJD\n",
                                 stored.substr(0, stored.size() - 4), stored + " "}) {
    SCOPED_TRACE(bad);
    EXPECT_NE(DecryptFailure(bad), "");
  }
}

TEST_F(SecretTest, BytesAppendedToAValueAreRefused) {
  if (RunningUnderWine()) {
    GTEST_SKIP() << "Wine's DPAPI ignores bytes after the end of its blob (the right text "
                    "still comes out)";
  }
  const std::string stored = EncryptSecret("Password=segredo");
  EXPECT_NE(DecryptFailure(stored + "QUJD"), "");
}

}  // namespace
}  // namespace qar::platform
