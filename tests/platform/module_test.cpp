#include "platform/module.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qar::platform {
namespace {

TEST(Module, ExecutableIsThisTestProgram) {
  const std::string exe = ExecutableFileName();
  EXPECT_EQ(ExtractFileName(exe), "platform_tests.exe");
  EXPECT_TRUE(std::filesystem::exists(ToNativePath(exe)));
}

TEST(Module, ModuleOfAFunctionInTheExecutableIsTheExecutable) {
  EXPECT_EQ(ModuleFileNameOf(reinterpret_cast<const void*>(&ExecutableFileName)),
            ExecutableFileName());
}

TEST(Module, TempDirectoryEndsWithTheSeparatorAndExists) {
  const std::string dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), kPathDelim);
  EXPECT_TRUE(std::filesystem::is_directory(ToNativePath(dir)));
}

TEST(Module, PathPiecesSplitOnEitherSeparator) {
  EXPECT_EQ(ExtractFilePath("C:\\Agent\\QarSnc.exe"), "C:\\Agent\\");
  EXPECT_EQ(ExtractFileDir("C:\\Agent\\QarSnc.exe"), "C:\\Agent");
  EXPECT_EQ(ExtractFileName("C:\\Agent\\QarSnc.exe"), "QarSnc.exe");
  EXPECT_EQ(ExtractFileDir("/opt/qarsnc/QarSnc.exe"), "/opt/qarsnc");
  EXPECT_EQ(ExtractFileDir("/QarSnc.exe"), "/");
  EXPECT_EQ(ExtractFileDir("C:\\QarSnc.exe"), "C:\\");
  EXPECT_EQ(ExtractFilePath("QarSnc.exe"), "");
  EXPECT_EQ(ExtractFileName("QarSnc.exe"), "QarSnc.exe");
}

TEST(Module, AnsiFileNamesReachTheFileSystem) {
  const std::string name = TempDirectory() + "qar_module_\xE7\xE3o.txt";  // "ção"
  {
    std::ofstream out(ToNativePath(name));
    out << "x";
  }
  EXPECT_TRUE(std::filesystem::exists(ToNativePath(name)));
  EXPECT_EQ(FromNativePath(ToNativePath(name)), name);
  std::filesystem::remove(ToNativePath(name));
}

}  // namespace
}  // namespace qar::platform
