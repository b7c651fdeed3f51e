#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "helpers/helper_process.h"
#include "platform/module.h"

namespace qar::platform {
namespace {

using test::HelperPath;
using test::HelperRunning;
using test::StartedHelper;
using test::StartHelper;
using test::WaitFor;

TEST(ProcessStart, ParameterStringArrivesWholeInTheGivenWorkingDirectory) {
  const std::string file = test::UniqueTempFile("record");
  // Blanks and shell characters: nothing may split or expand them.
  const std::string params = "record|" + file + "|two words; $HOME `id` * && x";
  const std::string dir = ExtractFileDir(ExecutableFileName());
  const ProcessResult started = StartDetached(HelperPath(), test::OneParameter(params), dir);
  ASSERT_TRUE(started.ok) << started.message;
  std::istringstream lines(test::WaitForFile(file));  // argument count, cwd, each argument
  std::string count, cwd, argument;
  std::getline(lines, count);
  std::getline(lines, cwd);
  std::getline(lines, argument);
  EXPECT_EQ(count, "1");
  EXPECT_TRUE(std::filesystem::equivalent(ToNativePath(cwd), ToNativePath(dir))) << cwd << " is not " << dir;
  EXPECT_EQ(argument, params);
}

TEST(ProcessStart, AMissingProgramIsReportedWithTheSystemsError) {
  const ProcessResult result = StartDetached(ExtractFilePath(ExecutableFileName()) + "NoSuchProgram.exe", "x");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error, 0);
  EXPECT_FALSE(result.message.empty());
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
  const std::uint32_t other = static_cast<std::uint32_t>(std::stoul("0" + test::WaitForFile(pidFile)));
  StartedHelper helper(StartHelper("sleep"));
  ASSERT_NE(helper.Pid(), 0u);
  ASSERT_NE(other, 0u);

  std::vector<TProcessHandle> found = FindProcessesOfFile(HelperPath());
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Pid(), helper.Pid());
  EXPECT_TRUE(found[0].Running());
  std::vector<TProcessHandle> copies = FindProcessesOfFile(copy);
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].Pid(), other);

  ASSERT_TRUE(found[0].Terminate().ok);
  ASSERT_TRUE(copies[0].Terminate().ok);
  EXPECT_TRUE(WaitFor([&] { return !found[0].Running() && !copies[0].Running(); }));
  EXPECT_FALSE(HelperRunning(helper.Pid()));
  std::error_code ignored;
  std::filesystem::remove_all(ToNativePath(copyDir), ignored);
}

}  // namespace
}  // namespace qar::platform
