// SQL text normalisation: named markers to "?", literals, doubled colons, double-byte text.
#include "diagnostics/replace_named_params.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace qar::diagnostics {
namespace {

TEST(ReplaceNamedParamsTest, WorkedPairsAndTheirEdges) {
  const std::pair<std::string, std::string> cases[] = {
      // The worked pairs.
      {"select * from T where A = :A and B = :B", "select * from T where A = ? and B = ?"},
      {"values (:A,:B)", "values (?,?)"},
      {"where A = :A", "where A = ?"},
      {"where A = :A=1 and B = :B", "where A = ? and B = ?"},
      {"where X = 'a:b' and A = :A", "where X = 'a:b' and A = ?"},
      {"select A::int, :B", "select A:int, ?"},
      {"where A = :\"MY NAME\" and B = :B", "where A = ? and B = ?"},
      {"where A = : and B = :B", "where A = ? and B = ?"},
      // Any quote closes the literal, whichever opened it.
      {"where X = 'it\"s' and A = :A", "where X = 'it\"s' and A = :A"},
      {"where X = `a:b` and A = :A", "where X = `a:b` and A = ?"},
      {"where X = 'a''b:c' and A = :A", "where X = 'a''b:c' and A = ?"},
      // Only the listed delimiters end a name; an unclosed quoted name runs to the end.
      {"a = :A\r\nand b = :B;", "a = ?\r\nand b = ?;"},
      {"a = :A\tand b = :B", "a = ? b = ?"},
      {"f(:A)+:B", "f(?)+?"},
      {":A:B :C", "? ?"},
      {"a = :\"open, b = :B", "a = ?"},
      {"select 1 from T", "select 1 from T"},
      {"", ""},
      {"where N = '\x81:x' and A = :A", "where N = '\x81:x' and A = ?"},  // Windows-1252: no lead bytes
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReplaceNamedParams(text), expected) << text;
}

TEST(ReplaceNamedParamsTest, TheTextEndsAtItsFirstNul) {
  const std::string text("a = :A\0 and b = :B", 18);
  EXPECT_EQ(ReplaceNamedParams(text), "a = ?");
}

// A double-byte code page in which 0x81 to 0x9F open a two-byte character (as in
// Shift-JIS), whose second byte may look like a colon, a quote or a delimiter. A lead
// byte as the last byte ends the text.
TEST(ReplaceNamedParamsTest, DoubleByteCharactersAreSteppedOverWhole) {
  LeadByteTable leadBytes{};
  for (int b = 0x81; b <= 0x9F; ++b) leadBytes[b] = true;
  const std::pair<std::string, std::string> cases[] = {
      {"x = \x81: and A = :A", "x = \x81: and A = ?"},
      {"x = \x81' and A = :A", "x = \x81' and A = ?"},
      {"x = \x81:\x81: :A", "x = \x81:\x81: ?"},
      {"a = :N\x81 x b", "a = ? b"},  // the second byte 0x20 does not end the name
      {"a = :\x81,\x82) + 1", "a = ? + 1"},
      {"a = :A and b = \x81", "a = ? and b = \x81"},
      {"a = :A\x81", "a = ?"},
      {"\x81", "\x81"},
      {std::string("a = :A \x81\0:B", 11), "a = ? \x81"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReplaceNamedParams(text, leadBytes), expected) << text;
}

}  // namespace
}  // namespace qar::diagnostics
