// Password masking of logged connection strings.
#include "diagnostics/mask_password.h"

#include <gtest/gtest.h>

namespace qar::diagnostics {
namespace {

TEST(MaskPasswordTest, MasksTheValueUpToTheNextSemicolonKeepingEverythingElse) {
  EXPECT_EQ(MaskPassword("Provider=SQLOLEDB;PassWord=s3cret;User ID=sa;Data Source=srv"),
            "Provider=SQLOLEDB;PassWord=******;User ID=sa;Data Source=srv");
}

TEST(MaskPasswordTest, MasksAValueAtTheEndOfTheText) {
  EXPECT_EQ(MaskPassword("User ID=sa;Password=abc"), "User ID=sa;Password=***");
}

TEST(MaskPasswordTest, AKeyDirectlyFollowedBySemicolonMasksNothing) {
  EXPECT_EQ(MaskPassword("Password=;User ID=sa"), "Password=;User ID=sa");
}

TEST(MaskPasswordTest, AQuotedValueIsMaskedOnlyUpToItsSemicolon) {
  EXPECT_EQ(MaskPassword("Password=\"a;b\";User ID=sa"), "Password=**;b\";User ID=sa");
}

TEST(MaskPasswordTest, AKeyWithABlankBeforeTheEqualsSignIsNoPasswordKey) {
  EXPECT_EQ(MaskPassword("Password =abc;PWD =def"), "Password =abc;PWD =def");
}

TEST(MaskPasswordTest, TextWithoutPasswordComesBackUnchanged) {
  EXPECT_EQ(MaskPassword("Provider=SQLite;Data Source=C:\\x.db"), "Provider=SQLite;Data Source=C:\\x.db");
  EXPECT_EQ(MaskPassword(""), "");
}

// Every password in the text is hidden, not only the first one.
TEST(MaskPasswordTest, MasksEveryPasswordAndEveryPwdKey) {
  EXPECT_EQ(MaskPassword("Password=one;Data Source=x;password=two"),
            "Password=***;Data Source=x;password=***");
  EXPECT_EQ(MaskPassword("Driver={SQL Server};Server=s;UID=sa;Pwd=odbc;X=1"),
            "Driver={SQL Server};Server=s;UID=sa;Pwd=****;X=1");
  EXPECT_EQ(MaskPassword("PWD=first;Password=second"), "PWD=*****;Password=******");
}

TEST(MaskPasswordTest, AnyKeyEndingInPasswordMatches) {
  EXPECT_EQ(MaskPassword("Jet OLEDB:Database Password=db;Mode=1"),
            "Jet OLEDB:Database Password=**;Mode=1");
}

// "PWD=" counts only where a key starts: at the beginning, after ";" or a quote
// (blanks allowed), so a key such as "OLDPWD=" keeps its value.
TEST(MaskPasswordTest, PwdIsAPasswordKeyOnlyWhereAKeyStarts) {
  EXPECT_EQ(MaskPassword("OLDPWD=keep;  pwd=hide"), "OLDPWD=keep;  pwd=****");
  EXPECT_EQ(MaskPassword("Extended Properties=\"DSN=x;PWD=y\""),
            "Extended Properties=\"DSN=x;PWD=**");
  EXPECT_EQ(MaskPassword("Extended Properties='PWD=y;UID=u'"),
            "Extended Properties='PWD=*;UID=u'");
}

TEST(MaskPasswordTest, WideTextComesBackAsAnsiText) {
  EXPECT_EQ(MaskPassword(u"Password=s\u00E3o;Data Source=Jo\u00E3o"),
            "Password=***;Data Source=Jo\xE3o");
}

}  // namespace
}  // namespace qar::diagnostics
