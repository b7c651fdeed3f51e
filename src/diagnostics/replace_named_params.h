// Rewrites named parameter markers (":NAME") of a statement text into positional "?".
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace qar::diagnostics {

// For each byte, whether it opens a double-byte character.
using LeadByteTable = std::array<bool, 256>;

// The lead bytes of the process's ANSI code page (none for Windows-1252).
const LeadByteTable& SystemLeadBytes();

// The statement text as the connection reports it: every ":NAME" outside a literal
// becomes "?", a doubled colon becomes one colon. The text ends at its first NUL.
// One left-to-right pass:
// - quotes (' " `) toggle one inside-literal flag, whichever quote opened it;
// - a name runs to the first space, ",", ";", ")", CR or LF outside a literal (so
//   ":A=1" is one name, and a quoted name may hold blanks); ":" before a delimiter or
//   the end is an empty name and also becomes "?";
// - a lead byte and the byte after it are one character, never a colon, quote or
//   delimiter; a lead byte as the last byte ends the text.
// The rewritten text is returned also when nothing changed.
std::string ReplaceNamedParams(std::string_view text);
// The same with the lead bytes of another code page.
std::string ReplaceNamedParams(std::string_view text, const LeadByteTable& leadBytes);

}  // namespace qar::diagnostics
