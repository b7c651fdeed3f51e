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

// Refuses characters the code page would replace (no best-fit look-alikes either).
std::string WideArgumentToAnsi(const wchar_t* wide, int index) {
  const int length = static_cast<int>(wcslen(wide));
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
    throw std::runtime_error("argument " + std::to_string(index) +
                             " holds characters outside the ANSI code page");
  }
  return ansi;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!wide) throw std::runtime_error(LastErrorText("CommandLineToArgvW"));
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(WideArgumentToAnsi(wide.get()[i], i));
  return arguments;
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
