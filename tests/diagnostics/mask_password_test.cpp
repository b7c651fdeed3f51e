// Password masking of logged connection strings.
#include "diagnostics/mask_password.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qar::diagnostics {
namespace {

// The value of every key ending in "PASSWORD=", and of every "PWD=" where a key
// starts (at the beginning, or after ";" or a quote, blanks allowed), is masked up
// to the next ";"; everything else stays as it is.
TEST(MaskPasswordTest, MasksEveryPasswordAndPwdValueUpToTheNextSemicolon) {
  const std::pair<std::string, std::string> cases[] = {
      {"Provider=SQLOLEDB;PassWord=s3cret;User ID=sa;Data Source=srv",
       "Provider=SQLOLEDB;PassWord=******;User ID=sa;Data Source=srv"},
      {"User ID=sa;Password=abc", "User ID=sa;Password=***"},
      {"Password=;User ID=sa", "Password=;User ID=sa"},
      {"Password=\"a;b\";User ID=sa", "Password=**;b\";User ID=sa"},  // quotes mean nothing
      {"Password =abc;PWD =def", "Password =abc;PWD =def"},           // a blank before "=" makes another key
      {"Provider=SQLite;Data Source=C:\\x.db", "Provider=SQLite;Data Source=C:\\x.db"},
      {"", ""},
      {"Password=one;Data Source=x;password=two", "Password=***;Data Source=x;password=***"},
      {"Driver={SQL Server};Server=s;UID=sa;Pwd=odbc;X=1", "Driver={SQL Server};Server=s;UID=sa;Pwd=****;X=1"},
      {"PWD=first;Password=second", "PWD=*****;Password=******"},
      {"Jet OLEDB:Database Password=db;Mode=1", "Jet OLEDB:Database Password=**;Mode=1"},
      {"OLDPWD=keep;  pwd=hide", "OLDPWD=keep;  pwd=****"},
      {"Extended Properties=\"DSN=x;PWD=y\"", "Extended Properties=\"DSN=x;PWD=**"},
      {"Extended Properties='PWD=y;UID=u'", "Extended Properties='PWD=*;UID=u'"},
  };
  for (const auto& [text, masked] : cases) EXPECT_EQ(MaskPassword(text), masked) << text;
}

TEST(MaskPasswordTest, WideTextComesBackAsAnsiText) {
  EXPECT_EQ(MaskPassword(u"Password=s\u00E3o;Data Source=Jo\u00E3o"),
            "Password=***;Data Source=Jo\xE3o");
}

}  // namespace
}  // namespace qar::diagnostics
