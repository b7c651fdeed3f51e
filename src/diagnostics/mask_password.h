// Hiding the password values of a connection string before it is logged.
#pragma once

#include <string>
#include <string_view>

namespace qar::diagnostics {

// A copy of the connection string with the value of every password key replaced by
// "*", one per character, up to the next ";" or the end of the text; the length and
// everything else stay as they were. Password keys, found without regard to the case
// of a to z:
// - any key ending in "PASSWORD=" ("Password=", "Jet OLEDB:Database Password="),
//   wherever it stands;
// - the ODBC key "PWD=", where a key can start: at the beginning of the text or
//   after ";" or a quote, blanks allowed in between ("XPWD=" is another key).
// A key with a blank before "=" is no password key; a key directly followed by ";"
// has nothing to mask. A value holding ";" (quoted or braced) is masked up to it.
std::string MaskPassword(std::string_view connectionString);
// The same for a wide connection string; the result is ANSI text.
std::string MaskPassword(std::u16string_view connectionString);

}  // namespace qar::diagnostics
