#include "platform/text.h"

#include <gtest/gtest.h>

namespace qar::platform {
namespace {

// Whether the active ANSI code page is Windows-1252 (always on POSIX; the usual
// Western code page on Windows, and Wine's default).
bool AnsiIs1252() { return AnsiToUtf16("\x80") == u"\u20AC"; }

TEST(Text, AnsiIsWindows1252BothWaysAndWhatItCannotHoldIsAQuestionMark) {
  if (!AnsiIs1252()) GTEST_SKIP() << "the active code page is not Windows-1252";
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(all)), all);
  EXPECT_EQ(Utf8ToAnsi("Conexão Observações"), "Conex\xE3o Observa\xE7\xF5" "es");
  EXPECT_EQ(AnsiToUtf8("\x80\x9F"), "€Ÿ");
  EXPECT_EQ(Utf8ToAnsi("a\xE4\xB8\xAD" "b"), "a?b");  // a CJK character
  EXPECT_EQ(Utf8ToAnsi("\xC4\x81"), "?");             // no best-fit 'a' for a-macron
  for (int b = 0; b < 256; ++b) EXPECT_FALSE(IsLeadByte(static_cast<unsigned char>(b))) << b;
}

TEST(Text, MalformedUtf8NeverReadsPastTheEnd) {
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("ab\xE2\x82")), "ab\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string(u"\uFFFD"));  // overlong '/'
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");            // lone surrogate
}

TEST(Text, CaseRulesTouchOnlyAToZAndTrimOnlyTheEnds) {
  EXPECT_EQ(UpperCaseAscii("qartab.exe \xE7\xE3"), "QARTAB.EXE \xE7\xE3");
  EXPECT_TRUE(SameTextAscii("qartab.EXE", "QarTab.exe"));
  EXPECT_FALSE(SameTextAscii("\xE7", "\xC7"));  // accented letters match in case only
  EXPECT_FALSE(SameTextAscii("abc", "abcd"));
  EXPECT_EQ(TrimControl("  \t MARIA \r\n"), "MARIA");
  EXPECT_EQ(TrimControl("A B"), "A B");
  EXPECT_EQ(TrimControl("\xA0x"), "\xA0x");  // a no-break space is above 32
}

}  // namespace
}  // namespace qar::platform
