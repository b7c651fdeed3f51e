// Log files opened per entry: created when missing, appended otherwise, failures raised.
#include "diagnostics/log_file.h"

#include <gtest/gtest.h>

#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using LogFileTest = testing::DiagnosticsSandbox;

TEST_F(LogFileTest, CreatesAMissingFileThenAppends) {
  const std::string path = LogDir() + "a.log";
  {
    TLogFile file(path);
    EXPECT_FALSE(file.Existed());
    file.Write("one\r\n");
  }
  {
    TLogFile file(path);
    EXPECT_TRUE(file.Existed());
    file.Write("two\r\n");
  }
  EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");
}

TEST_F(LogFileTest, AnExistingEmptyFileCountsAsExisting) {
  const std::string path = LogDir() + "empty.log";
  WriteFile(path, "");
  TLogFile file(path);
  EXPECT_TRUE(file.Existed());
}

// Nothing stays open between entries: the file can be replaced right after.
TEST_F(LogFileTest, TheFileIsClosedAfterEachEntry) {
  const std::string path = LogDir() + "closed.log";
  AppendToLogFile(path, "x");
  std::filesystem::rename(platform::ToNativePath(path), platform::ToNativePath(path + ".old"));
  AppendToLogFile(path, "y");
  EXPECT_EQ(ReadFile(path), "y");
  EXPECT_EQ(ReadFile(path + ".old"), "x");
}

TEST_F(LogFileTest, AFileThatCannotBeOpenedRaises) {
  EXPECT_THROW(AppendToLogFile(LogDir() + "no" + platform::kPathDelim + "such.log", "x"),
               TInOutError);
  EXPECT_THROW(AppendToLogFile(LogDir(), "x"), TInOutError);  // a directory
}

TEST_F(LogFileTest, AnsiFileNamesKeepTheirCharacters) {
  const std::string path = LogDir() + "Jo\xE3o.log";
  AppendToLogFile(path, "x");
  EXPECT_EQ(FileNames(LogDir()), std::vector<std::string>{"Jo\xE3o.log"});
}

}  // namespace
}  // namespace qar::diagnostics
