// Log files opened per entry: created when missing, appended otherwise, closed after, failures raised.
#include "diagnostics/log_file.h"

#include <gtest/gtest.h>

#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using LogFileTest = testing::DiagnosticsSandbox;

TEST_F(LogFileTest, CreatesAMissingFileThenAppendsAndClosesItAfterEachEntry) {
  const std::string path = LogDir() + "Jo\xE3o.log";  // an ANSI name keeps its characters
  {
    TLogFile file(path);
    EXPECT_FALSE(file.Existed());
    file.Write("one\r\n");
  }
  AppendToLogFile(path, "two\r\n");
  EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");
  EXPECT_EQ(FileNames(LogDir()), std::vector<std::string>{"Jo\xE3o.log"});
  // Nothing stays open: the file can be moved away right after an entry.
  std::filesystem::rename(platform::ToNativePath(path), platform::ToNativePath(path + ".old"));
  AppendToLogFile(path, "y");
  EXPECT_EQ(ReadFile(path), "y");

  const std::string empty = LogDir() + "empty.log";
  WriteFile(empty, "");
  EXPECT_TRUE(TLogFile(empty).Existed());
}

TEST_F(LogFileTest, AFileThatCannotBeOpenedRaises) {
  EXPECT_THROW(AppendToLogFile(LogDir() + "no" + platform::kPathDelim + "such.log", "x"), TInOutError);
  EXPECT_THROW(AppendToLogFile(LogDir(), "x"), TInOutError);  // a directory
}

}  // namespace
}  // namespace qar::diagnostics
