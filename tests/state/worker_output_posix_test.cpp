// POSIX only: a run's output file is made new in the installation's own directory, never through what another user planted.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/environment.h"
#include "state/worker_output.h"

namespace qar::state {
namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path& file) {
  std::ifstream in(file);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A link or a file planted under the name drawn first takes another name and stays as
// it was; a directory planted as a link is refused; a stored name is taken only when
// the rule makes it, in the directory.
TEST(WorkerOutput, IsMadeNewUnderAFreshNameAndNeverThroughALink) {
  const fs::path root = fs::path(*platform::GetEnv("TMPDIR")) / ("qar_output_" + std::to_string(::getpid()));
  fs::create_directories(root);
  const std::string dir = (root / "output").string();
  int draws = 0;
  const auto hex = [&] { return "0000000" + std::to_string(++draws % 3); };
  std::ofstream(root / "victim") << "keep";
  ASSERT_TRUE(platform::MakeGroupDirectory(dir, kWorkerOutputDirectoryMode).empty());
  fs::create_symlink(root / "victim", dir + "/" + WorkerOutputName(7, 46000.5, "00000001"));
  std::ofstream(dir + "/" + WorkerOutputName(7, 46000.5, "00000002")) << "planted";

  TWorkerOutput output = CreateWorkerOutput(dir, 7, 46000.5, hex);
  ASSERT_TRUE(output.file.Ok()) << output.error;
  EXPECT_EQ(output.file.Path(), dir + "/" + WorkerOutputName(7, 46000.5, "00000000"));
  EXPECT_EQ(Text(root / "victim"), "keep");
  EXPECT_EQ(Text(dir + "/" + WorkerOutputName(7, 46000.5, "00000002")), "planted");
  struct stat info {};
  ASSERT_EQ(::stat(dir.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, kWorkerOutputDirectoryMode);
  EXPECT_TRUE(IsWorkerOutputPath(output.file.Path(), dir, 7));
  for (const std::string& stored : {dir + "/../victim", dir + "/" + WorkerOutputName(8, 46000.5, "00000000"),
                                    root.string() + "/" + WorkerOutputName(7, 46000.5, "00000000")})
    EXPECT_FALSE(IsWorkerOutputPath(stored, dir, 7)) << stored;

  const auto taken = [] { return std::string("00000001"); };  // every name it draws is taken
  EXPECT_FALSE(CreateWorkerOutput(dir, 7, 46000.5, taken).file.Ok());
  fs::create_directory_symlink(dir, root / "linked");
  const TWorkerOutput linked = CreateWorkerOutput((root / "linked").string(), 7, 46000.5, hex);
  EXPECT_FALSE(linked.file.Ok());
  EXPECT_NE(linked.error.find("the output directory " + (root / "linked").string() + " cannot be used"), std::string::npos)
      << linked.error;
  fs::remove_all(root);
}

}  // namespace
}  // namespace qar::state
