// Programs started, found and ended; this program's own file and path pieces.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "helpers/helper_process.h"
#include "platform/module.h"

namespace qar::platform {
namespace {

using test::HelperPath;

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

TEST(ProcessStart, ParameterStringArrivesWholeInTheGivenWorkingDirectoryAndAMissingProgramIsReported) {
  const std::string file = test::UniqueTempFile("record");
  // Blanks and shell characters: nothing may split or expand them.
  const std::string params = "record|two words; $HOME `id` * && x|" + file;
  const std::string dir = ExtractFileDir(ExecutableFileName());
  const ProcessResult started = StartDetached(HelperPath(), test::OneParameter(params), dir);
  ASSERT_TRUE(started.ok) << started.message;
  std::istringstream lines(test::WaitForFile(file));  // argument count, cwd, each argument
  std::string count, cwd, argument;
  std::getline(std::getline(std::getline(lines, count), cwd), argument);
  EXPECT_EQ(count, "1");
  EXPECT_TRUE(std::filesystem::equivalent(ToNativePath(cwd), ToNativePath(dir))) << cwd << " is not " << dir;
  EXPECT_EQ(argument, params);

  const ProcessResult missing = StartDetached(ExtractFilePath(HelperPath()) + "NoSuchProgram.exe", "x");
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error, 0);
  EXPECT_FALSE(missing.message.empty());
  EXPECT_FALSE(TerminateProcessById(0x7FFFFFFFu).ok);  // above every real id: nothing is signalled
}

// Only the processes of that very file: a copy of the program elsewhere, with the
// same name, is another program.
TEST(FindProcessesOfFile, HoldsTheProgramsProcessesUntilTheyEndAndNoOtherFilesOfTheName) {
  const std::string copyDir = test::UniqueTempFile("copy");
  std::filesystem::create_directories(ToNativePath(copyDir));
  const std::string copy = copyDir + kPathDelim + test::kHelperName;
  std::filesystem::copy_file(ToNativePath(HelperPath()), ToNativePath(copy));
  const std::string pidFile = test::UniqueTempFile("copy-pid");
  ASSERT_TRUE(StartDetached(copy, test::OneParameter("sleep|" + pidFile)).ok);
  const auto other = static_cast<std::uint32_t>(std::stoul("0" + test::WaitForFile(pidFile)));
  test::StartedHelper helper("sleep");
  ASSERT_NE(helper.Pid() * 1ull * other, 0u);

  std::vector<TProcessHandle> found = FindProcessesOfFile(HelperPath()), copies = FindProcessesOfFile(copy);
  ASSERT_EQ(found.size(), 1u);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(found[0].Pid(), helper.Pid());
  EXPECT_EQ(copies[0].Pid(), other);
  EXPECT_TRUE(found[0].Running());
  ASSERT_TRUE(found[0].Terminate().ok);
  ASSERT_TRUE(copies[0].Terminate().ok);
  EXPECT_TRUE(test::WaitFor([&] { return !found[0].Running() && !copies[0].Running(); }));
  EXPECT_TRUE(FindProcessesOfFile(HelperPath()).empty());
  std::error_code ignored;
  std::filesystem::remove_all(ToNativePath(copyDir), ignored);
}

}  // namespace
}  // namespace qar::platform
