// POSIX only: the machine key file of the cipher.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/secret.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class MachineKeyTest : public ::testing::Test {
 protected:
  ScratchRegistry scratch_;
  fs::path KeyFile() const { return scratch_.Directory() / "machine.key"; }
};

TEST_F(MachineKeyTest, FirstEncryptionCreatesAPrivateKeyBesideTheRegistryFile) {
  ASSERT_FALSE(fs::exists(KeyFile()));
  EncryptSecret("x");
  struct stat st {};
  ASSERT_EQ(::stat(KeyFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  const std::string key = ReadBytes(KeyFile());
  EncryptSecret("y");
  EXPECT_EQ(ReadBytes(KeyFile()), key) << "later encryptions use the same key";
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(scratch_.Directory())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"machine.key"}) << "no temp file left";
}

TEST_F(MachineKeyTest, DecryptingWithoutAKeyFailsAndCreatesNone) {
  // A value well-formed for the cipher, from another machine.
  std::string stored;
  {
    ScratchRegistry other;
    stored = EncryptSecret("Password=segredo");
  }
  ASSERT_FALSE(fs::exists(KeyFile()));
  try {
    DecryptSecret(stored);
    ADD_FAILURE() << "decrypted without a key";
  } catch (const SecretError& e) {
    EXPECT_NE(std::string(e.what()).find("machine.key"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(KeyFile()));
  EncryptSecret("this machine's own key");
  EXPECT_THROW(DecryptSecret(stored), SecretError);  // another machine's key does not decrypt it
}

TEST_F(MachineKeyTest, KeyFileOfTheWrongSizeIsRefused) {
  std::ofstream(KeyFile(), std::ios::binary) << std::string(31, 'k');
  EXPECT_THROW(EncryptSecret("x"), SecretError);
  EXPECT_THROW(DecryptSecret("QS1:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"), SecretError);
  EXPECT_EQ(fs::file_size(KeyFile()), 31u) << "never replaced";
}

TEST_F(MachineKeyTest, ProcessesRacingToCreateTheKeyShareOne) {
  constexpr int kThreads = 4;
  std::vector<std::string> stored(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&stored, i] {
      try {
        stored[i] = EncryptSecret("value " + std::to_string(i));
      } catch (const SecretError&) {
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_FALSE(stored[i].empty()) << i;
    EXPECT_EQ(DecryptSecret(stored[i]), "value " + std::to_string(i));
  }
}

}  // namespace
}  // namespace qar::platform
