// POSIX only: a private file is the user's alone, and one that is not is refused as ssh refuses a key.
#include "platform/private_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "helpers/helper_process.h"
#include "platform/environment.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

TEST(PrivateFile, WrittenForTheUserAloneAndRefusedOnceOthersMayReadIt) {
  const std::string runtime = test::UniqueTempFile("runtime");
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const std::optional<std::string> saved = GetEnv("XDG_RUNTIME_DIR");
  SetEnv("XDG_RUNTIME_DIR", runtime);
  const std::string file = WritePrivateFile("token", "secret\n");
  saved ? SetEnv("XDG_RUNTIME_DIR", *saved) : UnsetEnv("XDG_RUNTIME_DIR");

  EXPECT_EQ(file, runtime + "/token");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadPrivateFile(file, 3), "sec");
  for (const mode_t mode : {0640, 0604, 0620}) {
    ASSERT_EQ(chmod(file.c_str(), mode), 0);
    try {
      ReadPrivateFile(file, 100);
      ADD_FAILURE() << "mode " << mode << " was taken";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("chmod 600"), std::string::npos) << error.what();
    }
  }
  if (geteuid() == 0) {  // only root can give a file away
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(chown(file.c_str(), 4242, 4242), 0);
    EXPECT_THROW(ReadPrivateFile(file, 100), std::runtime_error);
  }
  fs::remove_all(runtime);
}

}  // namespace
}  // namespace qar::platform
