// Text of the system: single-byte ANSI bytes, converted to UTF-8 / UTF-16 only at the edges.
#pragma once

#include <string>
#include <string_view>

namespace qar::platform {

// ANSI text is a std::string of bytes in the active ANSI code page.
// On Windows that is the system's code page; on POSIX it is Windows-1252, where
// every one of the 256 byte values has a Unicode form. Conversions to ANSI turn a
// character with no ANSI form into '?'.
std::string AnsiToUtf8(std::string_view ansi);
// True when every byte is below 0x80: such a text reads the same as ANSI and as UTF-8.
bool IsAscii(std::string_view text);
std::string Utf8ToAnsi(std::string_view utf8);
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view wide);

// UTF-8 <-> UTF-16 without the code page (file names, ODBC wide calls).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view wide);

// ANSI text as the console and log streams expect it (POSIX: UTF-8; Windows: unchanged).
std::string AnsiToConsole(std::string_view ansi);

// True when the byte opens a double-byte character in the active code page.
// Windows-1252 has none, so this is always false on POSIX.
bool IsLeadByte(unsigned char byte);

// Upper-cases the letters a to z only; every other byte stays as it is.
std::string UpperCaseAscii(std::string_view text);

// Compares two texts ignoring the case of a to z only.
bool SameTextAscii(std::string_view a, std::string_view b);

// Compares two ANSI texts ignoring letter case under the user's locale: every
// letter of the code page, accented ones included ('\xE7' equals '\xC7' in
// Windows-1252). Windows asks the system (CompareStringA, the exact characters
// otherwise); POSIX folds the letters of Windows-1252.
bool AnsiSameText(std::string_view a, std::string_view b);

// Removes every leading and trailing byte whose code is at or below 32.
std::string TrimControl(std::string_view text);

}  // namespace qar::platform
