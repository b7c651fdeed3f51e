// POSIX only: HKEY_LOCAL_MACHINE as a .reg file — its format on disk, atomic rewrites, permissions.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Runs `check` as an unprivileged user: in a child that drops root to "nobody"
// when the tests run as root (root passes every permission check), directly
// otherwise. Returns check's result; 0 means every expectation held.
template <typename Check>
int RunUnprivileged(Check check) {
  if (::geteuid() != 0) return check();
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) _exit(100);
    _exit(check());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

class RegistryFileTest : public ::testing::Test {
 protected:
  ScratchRegistry scratch_;
  const std::string& Path() const { return scratch_.KeyPath(); }
  fs::path File() const { return scratch_.FilePath(); }
  std::string FileKey() const { return "HKEY_LOCAL_MACHINE\\" + Path(); }
};

TEST_F(RegistryFileTest, RewriteKeepsEverythingElseTheFileHolds) {
  // Other keys, comments, kinds this system does not use, and text outside the
  // ANSI code page ("Ω" and "日本") must all survive a write of one value.
  const std::string others =
      "; written by the administrator\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
      "\"Greek\"=\"\xCE\xA9\"\r\n"
      "\"Multi\"=hex(7):41,00,00,00,42,00,00,00,00,00,43,00,44,00,45,00,46,00,47,00,48,\\\r\n"
      "  00,00,00,00,00\r\n"
      "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
      "@=\"\xE6\x97\xA5\xE6\x9C\xAC\"\r\n";
  WriteBytes(File(), Utf16LeFile("Windows Registry Editor Version 5.00\r\n\r\n" + others + "\r\n[" +
                                 FileKey() + "]\r\n\"TunningID\"=dword:00000000\r\n\r\n"));
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), false), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteInteger("TunningID", 1), RegStatus::kOk) << key.LastError();
  EXPECT_EQ(ReadBytes(File()),
            Utf16LeFile("Windows Registry Editor Version 5.00\r\n\r\n" + others + "\r\n[" +
                        FileKey() + "]\r\n\"TunningID\"=dword:00000001\r\n\r\n"));

  RegistryKey other;
  ASSERT_EQ(other.Open("SOFTWARE\\other", false, RegAccess::kRead), RegStatus::kOk);
  std::string text;
  std::int32_t number = 0;
  EXPECT_EQ(other.ReadString("Multi", text), RegStatus::kWrongType);
  EXPECT_EQ(other.ReadInteger("Quad", number), RegStatus::kWrongType);
}

TEST_F(RegistryFileTest, MalformedFileFailsNamingTheLineAndIsNeverRewritten) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  const std::string broken = "Windows Registry Editor Version 5.00\r\n\r\n[" + FileKey() +
                             "]\r\n\"TmpFileDir\"=\"C:\\logs\"\r\n\"TunningID\"=dword:00000001\r\n";
  WriteBytes(File(), broken);
  std::string text;
  EXPECT_EQ(key.ReadString("TmpFileDir", text), RegStatus::kFailed);
  EXPECT_NE(key.LastError().find("line 4"), std::string::npos) << key.LastError();
  EXPECT_NE(key.LastError().find(File().string()), std::string::npos) << key.LastError();
  EXPECT_EQ(key.WriteInteger("TunningID", 2), RegStatus::kFailed);
  RegistryKey another;
  EXPECT_EQ(another.Open(Path() + "\\New", true), RegStatus::kFailed);
  EXPECT_EQ(ReadBytes(File()), broken);
}

TEST_F(RegistryFileTest, MissingFileReadsAsEmptyAndCreationMakesItWithItsDirectories) {
  EXPECT_EQ(RegistryFilePath(), File().string());
  UnsetEnv("QARSNC_HKLM");
  EXPECT_EQ(RegistryFilePath(), "/etc/qarsnc/HKLM.reg");
  const fs::path file = scratch_.Directory() / "etc" / "qarsnc" / "HKLM.reg";
  SetEnv("QARSNC_HKLM", file.string());
  const mode_t oldMask = ::umask(077);  // the new file's mode does not depend on it
  RegistryKey key;
  EXPECT_EQ(key.Open(Path(), false), RegStatus::kNotFound);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ::umask(oldMask);
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(ModeOf(file), 0644u);
  EXPECT_EQ(ReadBytes(file),
            Utf16LeFile("Windows Registry Editor Version 5.00\r\n\r\n[" + FileKey() + "]\r\n\r\n"));
}

TEST_F(RegistryFileTest, RewriteKeepsTheModeAndTheSymbolicLinkAndLeavesNoTempFiles) {
  const fs::path real = scratch_.Directory() / "real.reg";
  SetEnv("QARSNC_HKLM", real.string());
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  fs::create_symlink(real, File());
  SetEnv("QARSNC_HKLM", File().string());
  ASSERT_EQ(key.Open(Path(), false), RegStatus::kOk) << key.LastError();
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(key.WriteInteger("N" + std::to_string(i), i), RegStatus::kOk) << key.LastError();
  }
  ASSERT_EQ(key.DeleteValue("N0"), RegStatus::kOk);
  EXPECT_TRUE(fs::is_symlink(File()));
  EXPECT_EQ(ModeOf(real), 0600u);
  EXPECT_NE(ReadBytes(real).find(std::string("N\0" "4\0", 4)), std::string::npos);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(scratch_.Directory())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"HKLM.reg", "real.reg"}));
}

TEST_F(RegistryFileTest, ConcurrentWritersLoseNoValue) {
  {
    RegistryKey key;
    ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  }
  constexpr int kWriters = 3;
  constexpr int kValuesEach = 15;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([this, w] {
      RegistryKey key;
      if (key.Open(Path(), false) != RegStatus::kOk) return;
      for (int i = 0; i < kValuesEach; ++i) key.WriteInteger("W" + std::to_string(w) + "_" + std::to_string(i), i);
    });
  }
  for (std::thread& writer : writers) writer.join();
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), false, RegAccess::kRead), RegStatus::kOk);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValuesEach; ++i) {
      std::int32_t number = -1;
      EXPECT_EQ(key.ReadInteger("W" + std::to_string(w) + "_" + std::to_string(i), number), RegStatus::kOk);
      EXPECT_EQ(number, i);
    }
  }
}

// As on Windows, full access needs write permission: on the file, and on its
// directory too, since a rewrite puts a temp file beside it.
TEST_F(RegistryFileTest, FileThatMayNotBeWrittenOpensForReadingOnly) {
  {
    RegistryKey key;
    ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
    ASSERT_EQ(key.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  }
  ASSERT_EQ(::chmod(scratch_.Directory().c_str(), 0555), 0);
  const std::string path = Path();
  for (const mode_t fileMode : {0444, 0666}) {
    SCOPED_TRACE(fileMode);
    ASSERT_EQ(::chmod(File().c_str(), fileMode), 0);
    const int failed = RunUnprivileged([&path] {
      RegistryKey key;
      if (key.Open(path, false, RegAccess::kFull) != RegStatus::kAccessDenied) return 1;
      if (key.Open(path, true, RegAccess::kFull) != RegStatus::kAccessDenied) return 2;
      if (key.Open(path + "\\New", true, RegAccess::kRead) != RegStatus::kAccessDenied) return 3;
      if (key.Open(path, false, RegAccess::kRead) != RegStatus::kOk) return 4;
      std::string text;
      if (key.ReadString("SqlMonUser", text) != RegStatus::kOk || text != "ANA") return 5;
      if (key.WriteString("SqlMonUser", "X") != RegStatus::kAccessDenied) return 6;
      return 0;
    });
    EXPECT_EQ(failed, 0) << "the check that failed (100: could not drop root)";
  }
  ::chmod(scratch_.Directory().c_str(), 0755);
}

}  // namespace
}  // namespace qar::platform
