// POSIX: arguments arrive as UTF-8; the console takes UTF-8.
#include <cstdio>
#include <stdexcept>

#include "platform/cmdline.h"
#include "platform/text.h"

namespace qar::platform {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string utf8 = argv[i];
    std::string ansi = Utf8ToAnsi(utf8);
    // The round trip differs when the text is not UTF-8 or a character became '?'.
    if (AnsiToUtf8(ansi) != utf8) {
      throw std::runtime_error("argument " + std::to_string(i) +
                               " is not UTF-8 text or holds characters outside Windows-1252");
    }
    arguments.push_back(std::move(ansi));
  }
  return arguments;
}

void WriteToConsole(ConsoleStream stream, std::string_view ansi) {
  std::FILE* file = stream == ConsoleStream::kOut ? stdout : stderr;
  const std::string utf8 = AnsiToUtf8(ansi);
  std::fwrite(utf8.data(), 1, utf8.size(), file);
  std::fflush(file);
}

}  // namespace qar::platform
