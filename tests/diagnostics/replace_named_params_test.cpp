// SQL text normalisation: named markers to "?", literals, doubled colons, double-byte text.
#include "diagnostics/replace_named_params.h"

#include <gtest/gtest.h>

namespace qar::diagnostics {
namespace {

TEST(ReplaceNamedParamsTest, WorkedPairs) {
  EXPECT_EQ(ReplaceNamedParams("select * from T where A = :A and B = :B"),
            "select * from T where A = ? and B = ?");
  EXPECT_EQ(ReplaceNamedParams("values (:A,:B)"), "values (?,?)");
  EXPECT_EQ(ReplaceNamedParams("where A = :A"), "where A = ?");
  EXPECT_EQ(ReplaceNamedParams("where A = :A=1 and B = :B"), "where A = ? and B = ?");
  EXPECT_EQ(ReplaceNamedParams("where X = 'a:b' and A = :A"), "where X = 'a:b' and A = ?");
  EXPECT_EQ(ReplaceNamedParams("select A::int, :B"), "select A:int, ?");
  EXPECT_EQ(ReplaceNamedParams("where A = :\"MY NAME\" and B = :B"), "where A = ? and B = ?");
  EXPECT_EQ(ReplaceNamedParams("where A = : and B = :B"), "where A = ? and B = ?");
}

TEST(ReplaceNamedParamsTest, AnyQuoteClosesTheLiteralWhicheverOpenedIt) {
  EXPECT_EQ(ReplaceNamedParams("where X = 'it\"s' and A = :A"), "where X = 'it\"s' and A = :A");
  EXPECT_EQ(ReplaceNamedParams("where X = `a:b` and A = :A"), "where X = `a:b` and A = ?");
  EXPECT_EQ(ReplaceNamedParams("where X = 'a''b:c' and A = :A"), "where X = 'a''b:c' and A = ?");
}

TEST(ReplaceNamedParamsTest, OnlyTheListedDelimitersEndAName) {
  EXPECT_EQ(ReplaceNamedParams("a = :A\r\nand b = :B;"), "a = ?\r\nand b = ?;");
  EXPECT_EQ(ReplaceNamedParams("a = :A\tand b = :B"), "a = ? b = ?");
  EXPECT_EQ(ReplaceNamedParams("f(:A)+:B"), "f(?)+?");
  EXPECT_EQ(ReplaceNamedParams(":A:B :C"), "? ?");
}

TEST(ReplaceNamedParamsTest, AnUnclosedQuoteInANameRunsToTheEnd) {
  EXPECT_EQ(ReplaceNamedParams("a = :\"open, b = :B"), "a = ?");
}

TEST(ReplaceNamedParamsTest, TextWithoutMarkersComesBackUnchanged) {
  EXPECT_EQ(ReplaceNamedParams("select 1 from T"), "select 1 from T");
  EXPECT_EQ(ReplaceNamedParams(""), "");
}

TEST(ReplaceNamedParamsTest, TheTextEndsAtItsFirstNul) {
  const std::string text("a = :A\0 and b = :B", 18);
  EXPECT_EQ(ReplaceNamedParams(text), "a = ?");
}

TEST(ReplaceNamedParamsTest, Windows1252HasNoLeadBytes) {
  EXPECT_EQ(ReplaceNamedParams("where N = '\x81:x' and A = :A"), "where N = '\x81:x' and A = ?");
}

// A double-byte code page in which 0x81 to 0x9F open a two-byte character (as in
// Shift-JIS), whose second byte may look like a colon, a quote or a delimiter.
class ReplaceNamedParamsDoubleByteTest : public ::testing::Test {
 protected:
  ReplaceNamedParamsDoubleByteTest() {
    for (int b = 0x81; b <= 0x9F; ++b) leadBytes_[b] = true;
  }
  std::string Replace(std::string_view text) const { return ReplaceNamedParams(text, leadBytes_); }
  LeadByteTable leadBytes_{};
};

TEST_F(ReplaceNamedParamsDoubleByteTest, ASecondByteIsNeverTakenForAColonOrQuote) {
  EXPECT_EQ(Replace("x = \x81: and A = :A"), "x = \x81: and A = ?");
  EXPECT_EQ(Replace("x = \x81' and A = :A"), "x = \x81' and A = ?");
  EXPECT_EQ(Replace("x = \x81:\x81: :A"), "x = \x81:\x81: ?");
}

TEST_F(ReplaceNamedParamsDoubleByteTest, DoubleByteCharactersBelongToTheName) {
  // The second byte 0x20 (a blank) does not end the name; the blank after it does.
  EXPECT_EQ(Replace("a = :N\x81 x b"), "a = ? b");
  EXPECT_EQ(Replace("a = :\x81,\x82) + 1"), "a = ? + 1");
}

TEST_F(ReplaceNamedParamsDoubleByteTest, ALeadByteAsTheLastByteEndsTheScan) {
  EXPECT_EQ(Replace("a = :A and b = \x81"), "a = ? and b = \x81");
  EXPECT_EQ(Replace("a = :A\x81"), "a = ?");
  EXPECT_EQ(Replace("\x81"), "\x81");
  const std::string withNul("a = :A \x81\0:B", 11);
  EXPECT_EQ(Replace(withNul), "a = ? \x81");
}

}  // namespace
}  // namespace qar::diagnostics
