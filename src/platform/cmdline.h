// The edge of a console program: its arguments and its console output, as ANSI text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qar::platform {

// The program's arguments after the program name, as ANSI text. POSIX: argv is
// UTF-8 and is converted. Windows: argv is ignored and the process's wide command
// line is converted, so that no character is silently replaced by a look-alike.
// Raises std::runtime_error naming the argument when one is not valid text or holds
// a character the ANSI code page cannot represent.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

enum class ConsoleStream { kOut, kError };

// Writes ANSI text to standard output or standard error. POSIX: converted to UTF-8.
// Windows: a console receives the text as Unicode (its own code page is often not
// the ANSI one); a file or pipe receives the ANSI bytes.
void WriteToConsole(ConsoleStream stream, std::string_view ansi);

}  // namespace qar::platform
