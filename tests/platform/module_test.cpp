#include "platform/module.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

namespace qar::platform {
namespace {

TEST(Module, ThisProgramsFileTheTempDirectoryAndAnsiNamesReachTheFileSystem) {
  const std::string exe = ExecutableFileName();
  EXPECT_EQ(ExtractFileName(exe), "platform_tests.exe");
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&ExecutableFileName)), exe);
  ASSERT_EQ(TempDirectory().back(), kPathDelim);
  const std::string name = TempDirectory() + "qar_module_\xE7\xE3o.txt";
  std::ofstream(ToNativePath(name)) << "x";
  EXPECT_TRUE(std::filesystem::exists(ToNativePath(name))) << name;
  EXPECT_EQ(FromNativePath(ToNativePath(name)), name);
  std::filesystem::remove(ToNativePath(name));
}

TEST(Module, PathPiecesSplitOnEitherSeparator) {
  for (const auto& [path, filePath, dir, name] :
       {std::tuple{"C:\\Agent\\QarSnc.exe", "C:\\Agent\\", "C:\\Agent", "QarSnc.exe"},
        {"/opt/qarsnc/QarSnc.exe", "/opt/qarsnc/", "/opt/qarsnc", "QarSnc.exe"}, {"/QarSnc.exe", "/", "/", "QarSnc.exe"},
        {"C:\\QarSnc.exe", "C:\\", "C:\\", "QarSnc.exe"}, {"QarSnc.exe", "", "", "QarSnc.exe"}}) {
    EXPECT_EQ(std::tuple(ExtractFilePath(path), ExtractFileDir(path), ExtractFileName(path)),
              std::tuple(filePath, dir, name)) << path;
  }
}

}  // namespace
}  // namespace qar::platform
