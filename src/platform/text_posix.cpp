// POSIX: the ANSI code page is Windows-1252, a single-byte code page without lead bytes.
#include <array>
#include <unordered_map>

#include "platform/text.h"

namespace qar::platform {

namespace {
// 0x80..0x9F of Windows-1252. The five bytes the code page leaves undefined map to
// the C1 control of the same value, as Windows' own conversion does, so every byte
// value survives a round trip.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t ToUnicode(unsigned char b) { return (b >= 0x80 && b <= 0x9F) ? kHigh[b - 0x80] : b; }

const std::unordered_map<char16_t, char>& ReverseHigh() {
  static const auto* table = [] {
    auto* map = new std::unordered_map<char16_t, char>();  // lives for the process
    for (std::size_t i = 0; i < kHigh.size(); ++i) (*map)[kHigh[i]] = static_cast<char>(0x80 + i);
    return map;
  }();
  return *table;
}
}  // namespace

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (char c : ansi) out += ToUnicode(static_cast<unsigned char>(c));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const char16_t ch = wide[i];
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) {
      out += static_cast<char>(ch);
      continue;
    }
    const auto& reverse = ReverseHigh();
    if (auto it = reverse.find(ch); it != reverse.end()) {
      out += it->second;
      continue;
    }
    // A surrogate pair is one character: one '?'.
    if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      ++i;
    }
    out += '?';
  }
  return out;
}

bool IsLeadByte(unsigned char) { return false; }

namespace {
// The upper-case letter of a Windows-1252 byte, the byte itself for anything else.
unsigned char UpperWindows1252(unsigned char b) {
  if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7)) return b - 0x20;
  switch (b) {
    case 0x9A: return 0x8A;  // s with caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z with caron
    case 0xFF: return 0x9F;  // y with diaeresis
    default: return b;
  }
}
}  // namespace

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperWindows1252(static_cast<unsigned char>(a[i])) !=
        UpperWindows1252(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string AnsiToConsole(std::string_view ansi) { return AnsiToUtf8(ansi); }

}  // namespace qar::platform
