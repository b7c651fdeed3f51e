// POSIX only: the machine key file of the cipher.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/secret.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

class MachineKeyTest : public ::testing::Test {
 protected:
  fs::path KeyFile() const { return scratch_.Directory() / "machine.key"; }
  ScratchRegistry scratch_;
};

// Threads racing to create the key share one; it is private, beside the settings file,
// and no temporary file is left.
TEST_F(MachineKeyTest, TheFirstEncryptionsCreateOnePrivateKeyBesideTheSettingsFile) {
  std::vector<std::string> stored(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    threads.emplace_back([&stored, i] {
      try {
        stored[i] = EncryptSecret("value " + std::to_string(i));
      } catch (const ESecretError&) {  // left empty: it does not decrypt to its value
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(DecryptSecret(stored[i]), "value " + std::to_string(i));
  struct stat st {};
  ASSERT_EQ(::stat(KeyFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  const std::string key = ReadBytes(KeyFile());
  EncryptSecret("y");
  EXPECT_EQ(ReadBytes(KeyFile()), key) << "later encryptions use the same key";
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.Directory()), fs::directory_iterator()), 1);
}

// Another machine's value: without a key it fails naming the key and creates none.
// A key of the wrong size is refused, never replaced.
TEST_F(MachineKeyTest, AValueOfAnotherMachineOrAKeyOfTheWrongSizeIsRefused) {
  std::string stored;
  {
    ScratchRegistry other;
    stored = EncryptSecret("Password=segredo");
  }
  try {
    DecryptSecret(stored);
    ADD_FAILURE() << "decrypted without a key";
  } catch (const ESecretError& e) {
    EXPECT_NE(std::string(e.what()).find("machine.key"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(KeyFile()));
  std::ofstream(KeyFile(), std::ios::binary | std::ios::trunc) << std::string(31, 'k');
  EXPECT_THROW(EncryptSecret("x"), ESecretError);
  EXPECT_EQ(fs::file_size(KeyFile()), 31u);
}

}  // namespace
}  // namespace qar::platform
