#include "platform/module.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qar::platform {
namespace {

TEST(Module, ExecutableModuleAndTempDirectoryAreThisProgramsAndTheSystems) {
  const std::string exe = ExecutableFileName();
  EXPECT_EQ(ExtractFileName(exe), "platform_tests.exe");
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&ExecutableFileName)), exe);
  const std::string dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), kPathDelim);
  EXPECT_TRUE(std::filesystem::is_directory(ToNativePath(dir)));
  const std::string name = dir + "qar_module_\xE7\xE3o.txt";  // ANSI names reach the file system
  std::ofstream(ToNativePath(name)) << "x";
  EXPECT_TRUE(std::filesystem::exists(ToNativePath(name)));
  EXPECT_EQ(FromNativePath(ToNativePath(name)), name);
  std::filesystem::remove(ToNativePath(name));
}

TEST(Module, PathPiecesSplitOnEitherSeparator) {
  const struct {
    const char *path, *filePath, *dir, *name;
  } cases[] = {
      {"C:\\Agent\\QarSnc.exe", "C:\\Agent\\", "C:\\Agent", "QarSnc.exe"},
      {"/opt/qarsnc/QarSnc.exe", "/opt/qarsnc/", "/opt/qarsnc", "QarSnc.exe"},
      {"/QarSnc.exe", "/", "/", "QarSnc.exe"},
      {"C:\\QarSnc.exe", "C:\\", "C:\\", "QarSnc.exe"},
      {"QarSnc.exe", "", "", "QarSnc.exe"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractFilePath(c.path), c.filePath) << c.path;
    EXPECT_EQ(ExtractFileDir(c.path), c.dir) << c.path;
    EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
  }
}

}  // namespace
}  // namespace qar::platform
