// POSIX only: where the lock file lives, who may plant it, and who inherits it.
#include <spawn.h>
#include <sys/stat.h>
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
#include "platform/process.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable (or unsets it) for one test, then puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name), old_(GetEnv(name)) {
    Put(value);
  }
  ~ScopedEnv() { Put(old_); }

 private:
  void Put(const std::optional<std::string>& value) { value ? SetEnv(name_, *value) : UnsetEnv(name_); }
  const char* name_;
  std::optional<std::string> old_;
};

class NamedMutexPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test::UniqueTempFile("lockdirs");
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Dir(const std::string& name, fs::perms perms) {
    const std::string dir = root_ + "/" + name;
    fs::create_directory(dir);
    fs::permissions(dir, perms);
    return dir;
  }
  std::string PerUserDir() const { return root_ + "/qarsnc-" + std::to_string(geteuid()); }
  std::string root_;
};

TEST_F(NamedMutexPosix, LockFileIsInAPrivateXdgRuntimeDirElseInAPerUserTempDir) {
  const std::string runtime = Dir("runtime", fs::perms::owner_all);
  {
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime);
    NamedMutex mutex("QSYNC");
    ASSERT_EQ(mutex.Outcome(), MutexOutcome::kCreated) << mutex.ErrorText();
    EXPECT_EQ(fs::status(runtime + "/QSYNC.lock").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  // Writable by everyone: not a place for our lock.
  ScopedEnv xdg("XDG_RUNTIME_DIR", Dir("shared", fs::perms::all));
  ScopedEnv tmp("TMPDIR", root_);
  NamedMutex mutex("QSYNC");
  ASSERT_EQ(mutex.Outcome(), MutexOutcome::kCreated) << mutex.ErrorText();
  EXPECT_TRUE(fs::exists(PerUserDir() + "/QSYNC.lock"));
  EXPECT_EQ(fs::status(PerUserDir()).permissions() & fs::perms::all, fs::perms::owner_all);
}

// Someone else may create the per-user directory first: a symbolic link, or (only
// root can test it) a directory of another user, is never used.
TEST_F(NamedMutexPosix, PlantedPerUserDirIsRefused) {
  const std::string elsewhere = Dir("elsewhere", fs::perms::owner_all);
  ScopedEnv xdg("XDG_RUNTIME_DIR", std::nullopt);
  ScopedEnv tmp("TMPDIR", root_);
  fs::create_directory_symlink(elsewhere, PerUserDir());
  NamedMutex link("QSYNC");
  EXPECT_EQ(link.Outcome(), MutexOutcome::kFailed);
  EXPECT_NE(link.LastError(), 0);
  EXPECT_FALSE(fs::exists(elsewhere + "/QSYNC.lock"));
  if (geteuid() != 0) return;
  fs::remove(PerUserDir());
  fs::create_directory(PerUserDir());
  ASSERT_EQ(chown(PerUserDir().c_str(), 4242, 4242), 0);
  NamedMutex foreign("QSYNC");
  EXPECT_EQ(foreign.Outcome(), MutexOutcome::kFailed);
  EXPECT_EQ(foreign.LastError(), EPERM);
}

TEST_F(NamedMutexPosix, LockIsNotInheritedByProgramsStartedAnyOtherWay) {
  const std::string name = "QarTest-spawn-" + std::to_string(getpid());
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated);
  // A plain spawn, without StartDetached's own descriptor clean-up.
  const std::string pidFile = test::UniqueTempFile("spawn");
  const std::string path = test::HelperPath();
  const std::string params = "sleep|" + pidFile;
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
