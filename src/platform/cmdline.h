// The edge of a console program: its arguments and its console output, as ANSI text.
#pragma once

#include <cstddef>
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

// The most text a console program takes in one argument or on standard input, in
// ANSI characters: one limit, so a value given either way is treated alike.
inline constexpr std::size_t kMaxInputCharacters = 64 * 1024;

// What the program is given on standard input, as ANSI text (at most
// kMaxInputCharacters; more raises std::runtime_error). A
// terminal gives one line, typed without echo after `prompt` (written to standard
// error); a pipe or file gives everything up to its end. Raises std::runtime_error
// when the text is not valid or holds a character the ANSI code page cannot hold.
std::string ReadStandardInput(std::string_view prompt);

enum class ConsoleStream { kOut, kError };

// Writes ANSI text to standard output or standard error. POSIX: converted to UTF-8.
// Windows: a console receives the text as Unicode (its own code page is often not
// the ANSI one); a file or pipe receives the ANSI bytes.
void WriteToConsole(ConsoleStream stream, std::string_view ansi);

}  // namespace qar::platform
