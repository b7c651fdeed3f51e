// POSIX: arguments arrive as UTF-8; the console takes UTF-8.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "platform/cmdline.h"
#include "platform/text.h"

namespace qar::platform {

namespace {

// A Windows-1252 character takes at most three bytes of UTF-8.
constexpr std::size_t kMaxInputBytes = 3 * kMaxInputCharacters;

std::runtime_error TooLong() {
  return std::runtime_error("standard input holds more than " + std::to_string(kMaxInputCharacters) +
                            " characters");
}

// UTF-8 to ANSI, refusing what does not come back the same (not UTF-8, or a
// character that became '?').
std::string CheckedAnsi(const std::string& utf8, const std::string& what) {
  std::string ansi = Utf8ToAnsi(utf8);
  if (AnsiToUtf8(ansi) != utf8) {
    throw std::runtime_error(what + " is not UTF-8 text or holds characters outside Windows-1252");
  }
  return ansi;
}

// Restores the terminal's echo however the read ends.
class TEchoOff {
 public:
  TEchoOff() : active_(::tcgetattr(STDIN_FILENO, &saved_) == 0) {
    if (!active_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  ~TEchoOff() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
  }
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;

 private:
  termios saved_{};
  bool active_;
};

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(CheckedAnsi(argv[i], "argument " + std::to_string(i)));
  return arguments;
}

std::string ReadStandardInput(std::string_view prompt) {
  const bool terminal = ::isatty(STDIN_FILENO) == 1;
  std::string utf8;
  {
    std::optional<TEchoOff> echoOff;
    if (terminal) {
      WriteToConsole(ConsoleStream::kError, prompt);
      echoOff.emplace();
    }
    char buffer[4096];
    while (true) {
      const ssize_t count = ::read(STDIN_FILENO, buffer, terminal ? 1 : sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) throw std::runtime_error("standard input cannot be read: " + std::string(std::strerror(errno)));
      if (count == 0) break;
      if (terminal && buffer[0] == '\n') break;
      utf8.append(buffer, static_cast<std::size_t>(count));
      if (utf8.size() > kMaxInputBytes) throw TooLong();
    }
  }
  if (terminal) WriteToConsole(ConsoleStream::kError, "\n");
  std::string ansi = CheckedAnsi(utf8, "standard input");
  if (ansi.size() > kMaxInputCharacters + 2) throw TooLong();  // a final line end is not counted
  return ansi;
}

void WriteToConsole(ConsoleStream stream, std::string_view ansi) {
  std::FILE* file = stream == ConsoleStream::kOut ? stdout : stderr;
  const std::string utf8 = AnsiToUtf8(ansi);
  std::fwrite(utf8.data(), 1, utf8.size(), file);
  std::fflush(file);
}

}  // namespace qar::platform
