// The texts the diagnostics compose: log file names, masked connection strings and
// statements with their named markers rewritten.
#include <gtest/gtest.h>

#include "data/named_params.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/mask_password.h"
#include "diagnostics/replace_named_params.h"
#include "platform/module.h"

namespace qar::diagnostics {

TEST(LogFileNameTest, IdentityPiecesByLevelDateAndKind) {
  const struct {
    std::int32_t level;
    const char *op, *app, *host;
    bool isErrorLog;
    const char* expected;  // after "C:\Temp\QarSnc.exe_"
  } cases[] = {
      {1, "MARIA", "CAIXA", "LOJA01-PC", false, "20261205_Monitor.log"},
      {2, "MARIA", "CAIXA", "LOJA01-PC", false, "MARIA_20261205_Monitor.log"},
      {3, "MARIA", "CAIXA", "LOJA01-PC", false, "CAIXA_MARIA_20261205_Monitor.log"},
      {9, "MARIA", "CAIXA", "LOJA01-PC", true, "LOJA01-PC_CAIXA_MARIA_20261205_Error.log"},
      {3, " ", "CAIXA", "LOJA01-PC", false, "CAIXA_20261205_Monitor.log"},
      {4, "MARIA", "  ", "LOJA01-PC", false, "LOJA01-PC__MARIA_20261205_Monitor.log"},
      {2, "\t MARIA\r\n", "", "", false, "MARIA_20261205_Monitor.log"},
      {-56, "MARIA", "CAIXA", "LOJA01-PC", false, "20261205_Monitor.log"},
      {4, "Jo\xE3o.Silva-2", "PDV (1)", "loja_01", false, "loja_01_PDV (1)_Jo\xE3o.Silva-2_20261205_Monitor.log"},
      // Remote callers supply the pieces: separators and characters Windows refuses become "_".
      {4, "..\\..\\x", " a/b:c\t", "<>\"|?*e\x01\x7F", false, "______e___a_b_c_.._.._x_20261205_Monitor.log"},
  };
  const platform::TDateTime lastMoment = platform::EncodeDateTime({2026, 12, 5, 23, 59, 59, 999});
  for (const auto& c : cases) {
    EXPECT_EQ(ComposeLogFileName("C:\\Temp\\", "QarSnc.exe", lastMoment, c.level, c.op, c.app, c.host, c.isErrorLog),
              std::string("C:\\Temp\\QarSnc.exe_") + c.expected) << c.level << " " << c.op;
  }
  EXPECT_EQ(ShortNameOfModule("C:\\Servidor\\ServidorRetaguarda.dll"), "ServidorRetagua");
  EXPECT_EQ(ModuleShortName(), ShortNameOfModule(platform::ExecutableFileName()));
}

// The value of every key ending in "PASSWORD=", and of every "PWD=" where a key starts
// (at the beginning, or after ";" or a quote, blanks allowed), is masked up to the
// next ";"; everything else stays as it is.
TEST(MaskPasswordTest, MasksEveryPasswordAndPwdValueUpToTheNextSemicolon) {
  const std::pair<std::string, std::string> cases[] = {
      {"Provider=SQLOLEDB;PassWord=s3cret;User ID=sa", "Provider=SQLOLEDB;PassWord=******;User ID=sa"},
      {"Password=;User ID=sa", "Password=;User ID=sa"},
      {"Password=\"a;b\";User ID=sa", "Password=**;b\";User ID=sa"},  // quotes mean nothing
      {"Password =abc;PWD =def", "Password =abc;PWD =def"},           // a blank before "=" makes another key
      {"Password=one;Data Source=x;password=two", "Password=***;Data Source=x;password=***"},
      {"PWD=first;Password=second", "PWD=*****;Password=******"},
      {"Jet OLEDB:Database Password=db;Mode=1", "Jet OLEDB:Database Password=**;Mode=1"},
      {"OLDPWD=keep;  pwd=hide", "OLDPWD=keep;  pwd=****"},
      {"Extended Properties=\"DSN=x;PWD=y\"", "Extended Properties=\"DSN=x;PWD=**"},
      {"Extended Properties='PWD=y;UID=u'", "Extended Properties='PWD=*;UID=u'"},
      {"", ""},
  };
  for (const auto& [text, masked] : cases) EXPECT_EQ(MaskPassword(text), masked) << text;
  EXPECT_EQ(MaskPassword(u"Password=s\u00E3o;Data Source=Jo\u00E3o"), "Password=***;Data Source=Jo\xE3o");
}

// In the double-byte code page of the last cases 0x81 to 0x9F open a two-byte character
// (as in Shift-JIS) whose second byte may look like a colon, a quote or a delimiter.
TEST(ReplaceNamedParamsTest, WorkedPairsAndTheirEdges) {
  const std::pair<std::string, std::string> cases[] = {
      {"select * from T where A = :A and B = :B", "select * from T where A = ? and B = ?"},
      {"values (:A,:B)", "values (?,?)"},
      {"where A = :A=1 and B = :B", "where A = ? and B = ?"},
      {"where X = 'a:b' and A = :A", "where X = 'a:b' and A = ?"},
      {"select A::int, :B", "select A:int, ?"},
      {"where A = :\"MY NAME\" and B = :B", "where A = ? and B = ?"},
      {"where A = : and B = :B", "where A = ? and B = ?"},
      {"where X = 'it\"s' and A = :A", "where X = 'it\"s' and A = :A"},  // any quote closes a literal
      {"where X = `a:b` and A = :A", "where X = `a:b` and A = ?"},
      {"a = :A\r\nand b = :B;", "a = ?\r\nand b = ?;"},
      {"a = :A\tand b = :B", "a = ? b = ?"},  // only the listed delimiters end a name
      {":A:B :C", "? ?"},
      {"a = :\"open, b = :B", "a = ?"},
      {"select 1 from T", "select 1 from T"},
      {std::string("a = :A\0 and b = :B", 18), "a = ?"},
      {"where N = '\x81:x' and A = :A", "where N = '\x81:x' and A = ?"},  // Windows-1252: no lead bytes
  };
  // The statement sent must read the same: the monitor finds a query's parameters by it.
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ReplaceNamedParams(text), expected) << text;
    if (text.find('\0') == std::string::npos) {
      EXPECT_EQ(ParseNamedParams(text).text, expected) << text;
    }
  }
  LeadByteTable leadBytes{};
  for (int b = 0x81; b <= 0x9F; ++b) leadBytes[b] = true;
  const std::pair<std::string, std::string> doubleByte[] = {
      {"x = \x81: and A = :A", "x = \x81: and A = ?"}, {"x = \x81' and A = :A", "x = \x81' and A = ?"},
      {"a = :N\x81 x b", "a = ? b"}, {"a = :A\x81", "a = ?"}, {std::string("a = :A \x81\0:B", 11), "a = ? \x81"},
  };
  for (const auto& [text, expected] : doubleByte) EXPECT_EQ(ReplaceNamedParams(text, leadBytes), expected) << text;
}

}  // namespace qar::diagnostics
