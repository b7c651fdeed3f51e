// POSIX only: a file's content replaced at once, never through a link someone planted.
#include "platform/replace_file.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/module.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

TEST(ReplaceFilePosix, ReplacesTheFileAndLeavesNothingBesideItNorWritesThroughAPlantedLink) {
  const fs::path dir = fs::path(TempDirectory()) / ("qarsnc-replace-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / "qarsnc.prom";
  std::ofstream(file) << "old";
  ReplaceFileContent(file.string(), "new\n");
  EXPECT_EQ(ReadBytes(file), "new\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  const fs::path victim = dir / "victim";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, fs::path(file.string() + "." + std::to_string(getpid()) + ".tmp"));
  EXPECT_THROW(ReplaceFileContent(file.string(), "evil"), std::runtime_error);
  EXPECT_EQ(ReadBytes(victim), "keep");
  EXPECT_EQ(ReadBytes(file), "new\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qar::platform
