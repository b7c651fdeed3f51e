// Windows: the ANSI code page is the system's active code page (CP_ACP).
#include <windows.h>

#include "platform/text.h"

namespace qar::platform {

std::u16string AnsiToUtf16(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int size = static_cast<int>(ansi.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

std::string Utf16ToAnsi(std::u16string_view wide) {
  if (wide.empty()) return {};
  const auto* data = reinterpret_cast<const wchar_t*>(wide.data());
  const int size = static_cast<int>(wide.size());
  const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data, size, nullptr, 0, "?", nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data, size, out.data(), needed, "?", nullptr);
  return out;
}

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.empty() || b.empty() || a.size() > 0x7FFFFFFF || b.size() > 0x7FFFFFFF) return a == b;
  // String sort: a statement's hyphens and apostrophes count like any other character.
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a.data(),
                        static_cast<int>(a.size()), b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

std::string AnsiToConsole(std::string_view ansi) { return std::string(ansi); }

}  // namespace qar::platform
