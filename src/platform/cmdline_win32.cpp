// Windows: arguments from the wide command line; Unicode to a console, ANSI bytes elsewhere.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <stdexcept>

#include "platform/cmdline.h"
#include "platform/text.h"

namespace qar::platform {

namespace {

struct LocalFreeDeleter {
  void operator()(LPWSTR* p) const { LocalFree(p); }
};

std::string LastErrorText(const char* call) {
  return std::string(call) + " failed with error " + std::to_string(GetLastError());
}

constexpr std::size_t kMaxInput = kMaxInputCharacters;

std::runtime_error TooLong() {
  return std::runtime_error("standard input holds more than " + std::to_string(kMaxInput) + " characters");
}

// Refuses characters the code page would replace (no best-fit look-alikes either).
std::string WideToCheckedAnsi(const wchar_t* wide, int length, const std::string& what) {
  if (length == 0) return {};
  // The UTF-8 code page accepts neither the flag nor the default-character report.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultOut = utf8 ? nullptr : &usedDefault;
  const int needed = WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, nullptr, usedDefaultOut);
  if (needed <= 0) throw std::runtime_error(LastErrorText("WideCharToMultiByte"));
  std::string ansi(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide, length, ansi.data(), needed, nullptr, usedDefaultOut);
  if (usedDefault) {
    throw std::runtime_error(what + " holds characters outside the ANSI code page");
  }
  return ansi;
}

// Restores the console's echo however the read ends.
class TEchoOff {
 public:
  TEchoOff(HANDLE console, DWORD mode) : console_(console), mode_(mode) {
    SetConsoleMode(console_, (mode_ | ENABLE_LINE_INPUT) & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
  ~TEchoOff() { SetConsoleMode(console_, mode_); }
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;

 private:
  HANDLE console_;
  DWORD mode_;
};

}  // namespace

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide) throw std::runtime_error(LastErrorText("CommandLineToArgvW"));
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) {
    const wchar_t* argument = wide.get()[i];
    arguments.push_back(
        WideToCheckedAnsi(argument, static_cast<int>(wcslen(argument)), "argument " + std::to_string(i)));
  }
  return arguments;
}

std::string ReadStandardInput(std::string_view prompt) {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A console: one line, as Unicode, without echo.
    WriteToConsole(ConsoleStream::kError, prompt);
    std::wstring line;
    {
      TEchoOff echoOff(handle, mode);
      wchar_t buffer[256];
      DWORD count = 0;
      while (line.find(L'\n') == std::wstring::npos) {
        if (!ReadConsoleW(handle, buffer, 256, &count, nullptr) || count == 0) break;
        line.append(buffer, count);
        if (line.size() > kMaxInput + 2) throw TooLong();  // the line end is not counted
      }
    }
    WriteToConsole(ConsoleStream::kError, "\n");
    if (const std::size_t end = line.find(L'\n'); end != std::wstring::npos) line.resize(end);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    return WideToCheckedAnsi(line.data(), static_cast<int>(line.size()), "standard input");
  }
  // A pipe or file: ANSI bytes up to the end.
  std::string bytes;
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(handle, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    bytes.append(buffer, count);
    if (bytes.size() > kMaxInput + 2) throw TooLong();  // a final line end is not counted
  }
  return bytes;
}

void WriteToConsole(ConsoleStream stream, std::string_view ansi) {
  const DWORD which = stream == ConsoleStream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  HANDLE handle = GetStdHandle(which);
  // A windowless program started from a console has no handles of its own: it
  // writes to the console of the program that started it (kept for its life).
  if ((handle == nullptr || handle == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    handle = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, handle);
    SetStdHandle(STD_ERROR_HANDLE, handle);
  }
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || ansi.empty()) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::u16string wide = AnsiToUtf16(ansi);
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    WriteFile(handle, ansi.data(), static_cast<DWORD>(ansi.size()), &written, nullptr);
  }
}

}  // namespace qar::platform
