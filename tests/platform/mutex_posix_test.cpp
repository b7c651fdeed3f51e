// POSIX only: where the lock file lives, who may plant it, and who inherits it.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "helpers/helper_process.h"
#include "platform/environment.h"
#include "platform/mutex.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

// XDG_RUNTIME_DIR and TMPDIR for one test, the old values put back after it.
class NamedMutexPosix : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_); }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    for (auto at = saved_.rbegin(); at != saved_.rend(); ++at) at->second ? SetEnv(at->first, *at->second) : UnsetEnv(at->first);
  }
  void Env(const char* name, const std::optional<std::string>& value) {
    saved_.emplace_back(name, GetEnv(name));
    value ? SetEnv(name, *value) : UnsetEnv(name);
  }
  std::string Dir(const std::string& name, fs::perms perms) {
    fs::create_directory(root_ + "/" + name);
    fs::permissions(root_ + "/" + name, perms);
    return root_ + "/" + name;
  }
  std::string PerUserDir() const { return root_ + "/qarsnc-" + std::to_string(geteuid()); }
  const std::string root_ = test::UniqueTempFile("lockdirs");
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// The lock is in a private XDG_RUNTIME_DIR, else in a per-user temporary directory;
// one writable by everyone is not a place for it.
TEST_F(NamedMutexPosix, LockFileIsInAPrivateXdgRuntimeDirElseInAPerUserTempDir) {
  const std::string runtime = Dir("runtime", fs::perms::owner_all);
  Env("XDG_RUNTIME_DIR", runtime);
  Env("TMPDIR", root_);
  ASSERT_EQ(NamedMutex("QSYNC").Outcome(), MutexOutcome::kCreated);
  EXPECT_EQ(fs::status(runtime + "/QSYNC.lock").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  Env("XDG_RUNTIME_DIR", Dir("shared", fs::perms::all));
  ASSERT_EQ(NamedMutex("QSYNC").Outcome(), MutexOutcome::kCreated);
  EXPECT_TRUE(fs::exists(PerUserDir() + "/QSYNC.lock"));
  EXPECT_EQ(fs::status(PerUserDir()).permissions() & fs::perms::all, fs::perms::owner_all);
}

// Someone else may create the per-user directory first: a symbolic link, or (only
// root can test it) a directory of another user, is never used.
TEST_F(NamedMutexPosix, PlantedPerUserDirIsRefused) {
  const std::string elsewhere = Dir("elsewhere", fs::perms::owner_all);
  Env("XDG_RUNTIME_DIR", std::nullopt);
  Env("TMPDIR", root_);
  fs::create_directory_symlink(elsewhere, PerUserDir());
  NamedMutex link("QSYNC");
  EXPECT_EQ(link.Outcome(), MutexOutcome::kFailed);
  EXPECT_NE(link.LastError(), 0);
  EXPECT_FALSE(fs::exists(elsewhere + "/QSYNC.lock"));
  if (geteuid() != 0) return;
  fs::remove(PerUserDir());
  fs::create_directory(PerUserDir());
  ASSERT_EQ(chown(PerUserDir().c_str(), 4242, 4242), 0);
  EXPECT_EQ(NamedMutex("QSYNC").LastError(), EPERM);
}

TEST_F(NamedMutexPosix, LockIsNotInheritedByProgramsStartedAnyOtherWay) {
  const std::string name = "QarTest-spawn-" + std::to_string(getpid());
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated);
  // A plain spawn, without StartDetached's own descriptor clean-up.
  const std::string pidFile = test::UniqueTempFile("spawn"), path = test::HelperPath(), params = "sleep|" + pidFile;
  char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(params.c_str()), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, environ), 0);
  ASSERT_FALSE(test::WaitForFile(pidFile).empty());  // the helper runs: its exec is done
  holder.Close();
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kCreated);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace qar::platform
