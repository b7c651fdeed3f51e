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

TEST_F(RegistryKeyTest, MissingKeyIsNotFoundUnlessCreationIsAllowed) {
  RegistryKey key;
  for (RegAccess access : {RegAccess::kRead, RegAccess::kFull}) {
    EXPECT_EQ(key.Open(Path() + "\\Missing", false, access), RegStatus::kNotFound);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_FALSE(key.LastError().empty());
  }
  EXPECT_EQ(key.Open(Path() + "\\Missing", true), RegStatus::kOk) << key.LastError();
  RegistryKey again;
  EXPECT_EQ(again.Open(Path() + "\\Missing", false), RegStatus::kOk) << again.LastError();
}

TEST_F(RegistryKeyTest, MissingValueAndValueOfAnotherTypeAreDistinguishable) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteInteger("SqlMonitor", 2), RegStatus::kOk);
  ASSERT_EQ(key.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);
  std::string text = "unchanged";
  std::int32_t number = 7;
  EXPECT_EQ(key.ReadString("TmpFileDir", text), RegStatus::kNotFound);
  EXPECT_EQ(key.ReadInteger("TunningID", number), RegStatus::kNotFound);
  EXPECT_EQ(key.ReadString("SqlMonitor", text), RegStatus::kWrongType);
  EXPECT_FALSE(key.LastError().empty());
  EXPECT_EQ(key.ReadInteger("SqlMonUser", number), RegStatus::kWrongType);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(number, 7);
}

TEST_F(RegistryKeyTest, KeyAndValueNamesIgnoreTheCaseOfAsciiLetters) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteString("SqlMonUser", "ANA"), RegStatus::kOk);

  RegistryKey upper;
  ASSERT_EQ(upper.Open(UpperCaseAscii(Path()), false), RegStatus::kOk) << upper.LastError();
  std::string text;
  EXPECT_EQ(upper.ReadString("SQLMONUSER", text), RegStatus::kOk);
  EXPECT_EQ(text, "ANA");
  EXPECT_EQ(upper.WriteString("sqlmonuser", "PEDRO"), RegStatus::kOk);
  EXPECT_EQ(key.ReadString("SqlMonUser", text), RegStatus::kOk);
  EXPECT_EQ(text, "PEDRO") << "one value, whatever the case of its name";
}

TEST_F(RegistryKeyTest, AnsiNamesAndValuesKeepTheirBytes) {
  if (AnsiToUtf16("\xE7") != u"\u00E7") GTEST_SKIP() << "the active code page is not Windows-1252";
  const std::string keyName = Path() + "\\Configura\xE7\xE3o";  // "Configuração"
  const std::string valueName = "Diret\xF3rio \xE7\xE3o";
  const std::string value = "C:\\A\xE7\xE3o\\ \x80 \xFF";
  {
    RegistryKey key;
    ASSERT_EQ(key.Open(keyName, true), RegStatus::kOk) << key.LastError();
    ASSERT_EQ(key.WriteString(valueName, value), RegStatus::kOk) << key.LastError();
  }
  RegistryKey key;
  ASSERT_EQ(key.Open(keyName, false, RegAccess::kRead), RegStatus::kOk) << key.LastError();
  std::string read;
  EXPECT_EQ(key.ReadString(valueName, read), RegStatus::kOk) << key.LastError();
  EXPECT_EQ(read, value);
}

TEST_F(RegistryKeyTest, DeletedValueIsNotFound) {
  RegistryKey key;
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteInteger("TunningID", 1), RegStatus::kOk);
  EXPECT_EQ(key.DeleteValue("tunningid"), RegStatus::kOk) << key.LastError();
  std::int32_t number = 0;
  EXPECT_EQ(key.ReadInteger("TunningID", number), RegStatus::kNotFound);
  EXPECT_EQ(key.DeleteValue("TunningID"), RegStatus::kNotFound);
}

TEST_F(RegistryKeyTest, KeyOpenedForReadingRefusesWrites) {
  RegistryKey writer;
  ASSERT_EQ(writer.Open(Path(), true), RegStatus::kOk) << writer.LastError();
  ASSERT_EQ(writer.WriteInteger("TunningID", 1), RegStatus::kOk);
  RegistryKey reader;
  ASSERT_EQ(reader.Open(Path(), false, RegAccess::kRead), RegStatus::kOk) << reader.LastError();
  EXPECT_EQ(reader.WriteInteger("TunningID", 2), RegStatus::kAccessDenied);
  EXPECT_EQ(reader.DeleteValue("TunningID"), RegStatus::kAccessDenied);
  std::int32_t number = 0;
  EXPECT_EQ(reader.ReadInteger("TunningID", number), RegStatus::kOk);
  EXPECT_EQ(number, 1);
}

TEST_F(RegistryKeyTest, AnOpenKeySeesWritesMadeThroughAnotherHandle) {
  RegistryKey first;
  RegistryKey second;
  ASSERT_EQ(first.Open(Path(), true), RegStatus::kOk) << first.LastError();
  ASSERT_EQ(second.Open(Path(), false), RegStatus::kOk) << second.LastError();
  std::string text;
  EXPECT_EQ(first.ReadString("TmpFileDir", text), RegStatus::kNotFound);
  ASSERT_EQ(second.WriteString("TmpFileDir", "D:\\logs\\"), RegStatus::kOk);
  EXPECT_EQ(first.ReadString("TmpFileDir", text), RegStatus::kOk);
  EXPECT_EQ(text, "D:\\logs\\");
}

TEST_F(RegistryKeyTest, ClosedOrMovedFromKeyFailsWithAReason) {
  RegistryKey key;
  std::string text;
  EXPECT_EQ(key.ReadString("X", text), RegStatus::kFailed);
  EXPECT_FALSE(key.LastError().empty());
  ASSERT_EQ(key.Open(Path(), true), RegStatus::kOk) << key.LastError();
  ASSERT_EQ(key.WriteString("X", "1"), RegStatus::kOk);
  RegistryKey moved = std::move(key);
  EXPECT_EQ(moved.ReadString("X", text), RegStatus::kOk);
  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(moved.WriteString("X", "2"), RegStatus::kFailed);
}

TEST_F(RegistryKeyTest, DeletingAKeyTakesItsSubkeys) {
  {
    RegistryKey key;
    ASSERT_EQ(key.Open(Path() + "\\A\\B", true), RegStatus::kOk) << key.LastError();
    ASSERT_EQ(key.WriteInteger("N", 1), RegStatus::kOk);
  }
  std::string error;
  EXPECT_EQ(DeleteRegistryKey(Path() + "\\A", &error), RegStatus::kOk) << error;
  RegistryKey key;
  EXPECT_EQ(key.Open(Path() + "\\A\\B", false), RegStatus::kNotFound);
  EXPECT_EQ(key.Open(Path() + "\\A", false), RegStatus::kNotFound);
  EXPECT_EQ(DeleteRegistryKey(Path() + "\\A", &error), RegStatus::kNotFound);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace qar::platform
