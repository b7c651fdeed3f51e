// Text as QarCfg prints it: control characters escaped, long arguments cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qar::state {

// The text on one line with nothing a terminal would act on: CR, LF and tab become
// \r, \n and \t, every other control character (and the five bytes of Windows-1252
// that stand for C1 controls) \xNN. Printable text, backslashes included, is kept.
std::string Printable(std::string_view text);

// How much of a caller's argument a message quotes.
inline constexpr std::size_t kQuotedLength = 60;

// Printable(text), cut after `length` characters with a note of the whole length,
// so that no message repeats a huge argument.
std::string Quoted(std::string_view text, std::size_t length = kQuotedLength);

}  // namespace qar::state
