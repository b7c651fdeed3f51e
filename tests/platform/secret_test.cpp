// The connection-string cipher on both builds: round trips and every way a stored value can be bad.
#include "platform/secret.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/process.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

// The message of the ESecretError that decrypting `stored` raises; empty if none.
std::string DecryptFailure(const std::string& stored) {
  try {
    DecryptSecret(stored);
  } catch (const ESecretError& e) {
    return e.what();
  }
  return {};
}

// Every byte value survives, each encryption differs, and the stored value is
// printable text for a registry string. Wine's DPAPI does not authenticate every
// header field of its blob (a changed hash length still decrypts, to the right text)
// and ignores bytes after its end: there, only the ciphertext and the fingerprint
// are checked. A bad value is refused without quoting it.
TEST(Secret, EveryByteValueRoundTripsAndATamperedDamagedOrForeignValueIsRefusedWithoutQuotingIt) {
  const ScratchRegistry scratch;  // POSIX: the machine key goes to a temp directory
  EXPECT_EQ(EncryptSecret(""), "");
  EXPECT_EQ(DecryptSecret(""), "");
  std::string plain;
  for (int b = 0; b < 256; ++b) plain += static_cast<char>(b);
  const std::string all = EncryptSecret(plain);
  EXPECT_TRUE(std::ranges::all_of(all, [](char c) { return c > 0x20 && c < 0x7F; })) << all;
  EXPECT_EQ(DecryptSecret(all), plain);
  EXPECT_NE(EncryptSecret(plain), all);

  const std::string stored = EncryptSecret("Provider=SQLOLEDB.1;Password=segredo");
  const std::string prefix = stored.substr(0, 4);
  ASSERT_TRUE(prefix == "QS1:" || prefix == "QD1:") << stored;
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
    const std::string message = DecryptFailure(value);
    EXPECT_NE(message, "") << value;
    EXPECT_EQ(message.find("segredo"), std::string::npos) << message;
  }
  EXPECT_NE(DecryptFailure(otherPlatform).find(otherPlatform.substr(0, 4)), std::string::npos);
}

}  // namespace
}  // namespace qar::platform
