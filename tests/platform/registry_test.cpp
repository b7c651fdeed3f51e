// RegistryKey on both builds: the real registry under Windows (Wine), a temp .reg file on POSIX.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "scratch_registry.h"

namespace qar::platform {
namespace {

class RegistryKeyTest : public ::testing::Test {
 protected:
  ScratchRegistry scratch_;
  const std::string& Path() const { return scratch_.KeyPath(); }
};

TEST_F(RegistryKeyTest, CreatedKeyKeepsStringsAndIntegersForTheNextOpen) {
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"StringConex", "Provider=SQLOLEDB.1;Data Source=C:\\db\\a \"b\";Password=x=y"},
      {"", "the default value"},
      {"Long", std::string(5000, 'x')},
      {"Empty", ""}};
  const std::vector<std::pair<std::string, std::int32_t>> numbers = {
      {"TunningID", 1}, {"SqlMonitor", -56}, {"Lowest", INT32_MIN}};
  {
    RegistryKey key;
    ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
    EXPECT_TRUE(key.IsOpen());
    for (const auto& [name, text] : texts) EXPECT_EQ(key.WriteString(name, text), RegStatus::kOk) << name;
    for (const auto& [name, number] : numbers) EXPECT_EQ(key.WriteInteger(name, number), RegStatus::kOk) << name;
  }
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), false, RegAccess::kRead), RegStatus::kOk) << key.LastError();
  for (const auto& [name, text] : texts) {
    std::string read = "?";
    EXPECT_EQ(key.ReadString(name, read), RegStatus::kOk) << name << key.LastError();
    EXPECT_EQ(read, text) << name;
  }
  for (const auto& [name, number] : numbers) {
    std::int32_t read = 0;
    EXPECT_EQ(key.ReadInteger(name, read), RegStatus::kOk) << name;
    EXPECT_EQ(read, number) << name;
  }
}

TEST_F(RegistryKeyTest, MissingKeyIsNotFoundUnlessCreationIsAllowedAndDeletionTakesSubkeys) {
  RegistryKey key;
  for (RegAccess access : {RegAccess::kRead, RegAccess::kFull}) {
    EXPECT_EQ(key.Open(Path() + "\\A\\B", false, access), RegStatus::kNotFound);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.LastError().empty());
  }
  ASSERT_EQ(key.Open(Path() + "\\A\\B", true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteInteger("N", 1), RegStatus::kOk);
  RegistryKey again;
  EXPECT_EQ(again.Open(Path() + "\\A\\B", false), RegStatus::kOk) << again.LastError();

  std::string error;
  EXPECT_EQ(DeleteRegistryKey(Path() + "\\A", &error), RegStatus::kOk) << error;
  EXPECT_EQ(again.Open(Path() + "\\A\\B", false), RegStatus::kNotFound);
  EXPECT_EQ(again.Open(Path() + "\\A", false), RegStatus::kNotFound);
  EXPECT_EQ(DeleteRegistryKey(Path() + "\\A", &error), RegStatus::kNotFound);
  EXPECT_FALSE(error.empty());
}

// Missing, of another type, deleted, written through a read-only or closed key: each
// failure has its own status and a reason, and leaves the caller's variable alone.
TEST_F(RegistryKeyTest, EachFailureHasItsStatus) {
  RegistryKey writer;
  ASSERT_EQ(writer.Open(Path(), true), RegStatus::kOk) << writer.LastError();
  ASSERT_EQ(writer.WriteInteger("SqlMonitor", 2), RegStatus::kOk);
  ASSERT_EQ(writer.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  ASSERT_EQ(writer.WriteInteger("TunningID", 1), RegStatus::kOk);
  std::string text = "unchanged";
  std::int32_t number = 7;
  EXPECT_EQ(writer.ReadString("TmpFileDir", text), RegStatus::kNotFound);
  EXPECT_EQ(writer.ReadString("SqlMonitor", text), RegStatus::kWrongType);
  EXPECT_FALSE(writer.LastError().empty());
  EXPECT_EQ(writer.ReadInteger("SqlMonUser", number), RegStatus::kWrongType);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(number, 7);

  RegistryKey reader;
  ASSERT_EQ(reader.Open(Path(), false, RegAccess::kRead), RegStatus::kOk) << reader.LastError();
  EXPECT_EQ(reader.WriteInteger("TunningID", 2), RegStatus::kAccessDenied);
  EXPECT_EQ(reader.DeleteValue("TunningID"), RegStatus::kAccessDenied);
  EXPECT_EQ(writer.DeleteValue("tunningid"), RegStatus::kOk) << writer.LastError();
  EXPECT_EQ(reader.ReadInteger("TunningID", number), RegStatus::kNotFound) << "another handle sees it at once";
  EXPECT_EQ(writer.DeleteValue("TunningID"), RegStatus::kNotFound);

  RegistryKey moved = std::move(writer);
  EXPECT_EQ(moved.ReadString("SqlMonUser", text), RegStatus::kOk);
  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(moved.WriteString("X", "2"), RegStatus::kFailed);
  EXPECT_FALSE(moved.LastError().empty());
}

TEST_F(RegistryKeyTest, NamesIgnoreTheCaseOfAsciiLettersAndAnsiBytesSurvive) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  RegistryKey upper;
  ASSERT_EQ(upper.Open(UpperCaseAscii(Path()), false), RegStatus::kOk) << upper.LastError();
  EXPECT_EQ(upper.WriteString("sqlmonuser", "PEDRO"), RegStatus::kOk);
  std::string text;
  EXPECT_EQ(key.ReadString("SQLMONUSER", text), RegStatus::kOk);
  EXPECT_EQ(text, "PEDRO") << "one value, whatever the case of its name";

  if (AnsiToUtf16("\xE7") != u"\u00E7") GTEST_SKIP() << "the active code page is not Windows-1252";
  const std::string keyName = Path() + "\\Configura\xE7\xE3o";
  const std::string valueName = "Diret\xF3rio \xE7\xE3o";
  const std::string value = "C:\\A\xE7\xE3o\\ \x80 \xFF";
  ASSERT_EQ(key.Open(keyName, true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteString(valueName, value), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(upper.Open(keyName, false, RegAccess::kRead), RegStatus::kOk) << upper.LastError();
  EXPECT_EQ(upper.ReadString(valueName, text), RegStatus::kOk) << upper.LastError();
  EXPECT_EQ(text, value);
}

}  // namespace
}  // namespace qar::platform
