// POSIX only: the embedded database is made for the installation's group, and one the agent
// may not write is reported with its owner, its mode and the command that mends it.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "data/ado_connection.h"
#include "data/data_error.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/shared_file.h"
#include "unprivileged_posix.h"

namespace qar {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class DatabaseAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Where the unprivileged user of a check reaches the files.
    dir_ = fs::path(::qar::testing::ReachableScratchDirectory()) /
           ("qar_db_access_" + std::to_string(platform::CurrentProcessId()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms(0755));
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(DatabaseAccessTest, MadeForTheGroupWhateverTheUmask) {
  const struct group* other = ::getgrnam("nogroup");
  const mode_t oldMask = ::umask(077);
  const std::string made = platform::CreateGroupFile((dir_ / "a.db").string(), other ? "nogroup" : "no-such-group");
  ::umask(oldMask);
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "a.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
  if (other && ::geteuid() == 0) {
    EXPECT_EQ(st.st_gid, other->gr_gid);
  }
  EXPECT_EQ(made.rfind("mode 0660, group ", 0), 0u) << made;
  EXPECT_THROW(platform::CreateGroupFile((dir_ / "a.db").string(), "qarsnc"), std::runtime_error);  // never reused
}

// A database the agent may not write: the error names the file, its owner and mode, and the mending.
TEST_F(DatabaseAccessTest, ADatabaseThatMayNotBeWrittenSaysWhoOwnsItAndHowToMendIt) {
  const std::string file = (dir_ / "q.db").string();
  {
    TADOConnection setup;  // not pooled: the agent below must open the file anew
    setup.SetConnectionString("Provider=SQLite;Pooling=False;Data Source=" + file);
    setup.Execute("CREATE TABLE T (A INT)");
  }
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  const auto check = [&file] {
    try {
      TADOConnection agent;
      agent.SetConnectionString("Provider=SQLite;Data Source=" + file);
      agent.Open();
      agent.Execute("INSERT INTO T VALUES (1)");
    } catch (const EDataError& error) {
      const std::string message = error.what();
      for (const std::string& part : {"readonly database"s, "(database file " + file + ": owner ", ", mode 0444;"s,
                                      "sudo chmod 0660 '" + file + "'"}) {
        if (message.find(part) == std::string::npos) return 1;
      }
      return 0;
    }
    return 2;
  };
  EXPECT_EQ(::qar::testing::RunUnprivileged(check), 0)
      << "1: the message lacks the file's owner, mode or mending; 2: the write succeeded";
}

}  // namespace
}  // namespace qar
