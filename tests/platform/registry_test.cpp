// RegistryKey on both builds: the real registry under Windows (Wine), a temp .reg file on POSIX.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/text.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

// Another handle, on the key named in other case, reads every value as written; a name in
// any case is one value. ANSI bytes survive where the code page is Windows-1252.
TEST(RegistryKey, ValuesReadBackUnderAnyCaseOfTheirNames) {
  ScratchRegistry scratch;
  const bool cp1252 = AnsiToUtf16("\xE7") == u"\u00E7";
  const std::string path = scratch.KeyPath() + (cp1252 ? "\\Configura\xE7\xE3o" : "\\Config") + "=1 \"x\"";
  std::vector<std::pair<std::string, std::string>> texts = {
      {"StringConex", "Provider=SQLOLEDB.1;Data Source=C:\\db\\a \"b\";Password=x=y"}, {"", "the default value"},
      {"Long", std::string(5000, 'x')}, {"Empty", ""}, {"Two \\\"lines\"=", "first\r\nsecond"}};
  if (cp1252) texts.emplace_back("Diret\xF3rio \xE7\xE3o", "C:\\A\xE7\xE3o\\ \x80 \xFF");
  RegistryKey writer;
  ASSERT_EQ(writer.Open(path, true), RegStatus::kOk) << writer.LastError();
  for (const auto& [name, text] : texts) EXPECT_EQ(writer.WriteString(name, text), RegStatus::kOk) << name;
  EXPECT_EQ(writer.WriteInteger("Lowest", INT32_MIN), RegStatus::kOk);
  EXPECT_EQ(writer.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  EXPECT_EQ(writer.WriteString("SQLMONUSER", "PEDRO"), RegStatus::kOk);
  texts.emplace_back("sqlmonuser", "PEDRO");
  RegistryKey reader;
  ASSERT_EQ(reader.Open(UpperCaseAscii(path), false, RegAccess::kRead), RegStatus::kOk) << reader.LastError();
  for (const auto& [name, text] : texts) {
    std::string read = "?";
    EXPECT_EQ(reader.ReadString(name, read), RegStatus::kOk) << name << reader.LastError();
    EXPECT_EQ(read, text) << name;
  }
  std::int32_t number = 0;
  EXPECT_EQ(reader.ReadInteger("LOWEST", number), RegStatus::kOk);
  EXPECT_EQ(number, INT32_MIN);
}

// Each failure has its status and leaves the caller's variable alone. A key exists above a created one.
TEST(RegistryKey, EachFailureHasItsStatusAndWhatCannotReadBackUnchangedIsRefused) {
  ScratchRegistry scratch;
  const std::string sub = scratch.KeyPath() + "\\A\\BCD";
  RegistryKey reader;
  EXPECT_EQ(reader.Open(sub, false, RegAccess::kRead), RegStatus::kNotFound);
  EXPECT_FALSE(reader.IsOpen());
  RegistryKey writer;
  ASSERT_EQ(writer.Open(sub, true), RegStatus::kOk) << writer.LastError();
  ASSERT_EQ(writer.WriteInteger("SqlMonitor", 2), RegStatus::kOk);
  ASSERT_EQ(writer.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  EXPECT_EQ(reader.Open(scratch.KeyPath() + "\\A\\B", false), RegStatus::kNotFound);
  EXPECT_EQ(reader.Open(scratch.KeyPath() + "\\A", false), RegStatus::kOk) << reader.LastError();
  ASSERT_EQ(reader.Open(sub, false, RegAccess::kRead), RegStatus::kOk) << reader.LastError();
  std::string text = "unchanged";
  std::int32_t number = 7;
  EXPECT_EQ(reader.ReadString("TmpFileDir", text), RegStatus::kNotFound);
  EXPECT_EQ(reader.ReadString("SqlMonitor", text), RegStatus::kWrongType);
  EXPECT_EQ(reader.ReadInteger("SqlMonUser", number), RegStatus::kWrongType);
  EXPECT_EQ(text + std::to_string(number), "unchanged7");
  EXPECT_EQ(reader.WriteInteger("SqlMonitor", 3), RegStatus::kAccessDenied);

  // A key path or value name that is not one line of text (a NUL would make the ANSI calls
  // act on another value), or a text cut at its NUL, is refused before anything is written.
  const std::string& path = sub;
  ASSERT_EQ(writer.WriteString("N", "kept"), RegStatus::kOk) << writer.LastError();
  const std::string nul(1, '\0');
  const struct { std::string path, name, text; } cases[] = {
      {path + "\\a\nb", "N", "t"}, {path + "\\a" + nul, "N", "t"}, {path + "\\" + std::string(256, 'k'), "N", "t"},
      {path, "a\nb", "t"}, {path, "a\rb", "t"}, {path, "N" + nul + "b", "t"}, {path, "a\x01", "t"},
      {path, std::string(16384, 'n'), "t"}, {path, "N", "1" + nul + "2"},
  };
  for (const auto& c : cases) {
    RegistryKey other;
    RegStatus status = other.Open(c.path, true);
    if (status == RegStatus::kOk) status = other.WriteString(c.name, c.text);
    EXPECT_EQ(status, RegStatus::kFailed) << c.name;
    EXPECT_FALSE(other.LastError().empty());
    if (other.IsOpen() && c.text == "t") {
      EXPECT_EQ(other.WriteInteger(c.name, 1), RegStatus::kFailed) << c.name;
    }
  }
  EXPECT_TRUE(writer.ReadString("N", text) == RegStatus::kOk && text == "kept") << writer.LastError() << text;
  EXPECT_EQ(writer.ReadString("N" + nul + "b", text), RegStatus::kFailed);
}

}  // namespace
}  // namespace qar::platform
