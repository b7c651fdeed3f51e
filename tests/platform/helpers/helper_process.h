// Starting, finding and waiting for QarPlatformTestHelper.exe from the platform tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::platform::test {

inline constexpr const char* kHelperName = "QarPlatformTestHelper.exe";

// The helper is built beside the test executable.
inline std::string HelperPath() { return ExtractFilePath(ExecutableFileName()) + kHelperName; }

// A file name in the temporary directory, unique to this test process and call.
inline std::string UniqueTempFile(const std::string& tag) {
  static int counter = 0;
  return TempDirectory() + "qarsnc-test-" + std::to_string(CurrentProcessId()) + "-" + tag + "-" +
         std::to_string(++counter);
}

// The helper's one parameter string, as StartDetached must be given it so that it
// arrives whole: quoted where the started program splits a command line.
inline std::string OneParameter(const std::string& text) {
  return kStartParamsAreCommandLine ? "\"" + text + "\"" : text;
}

// Asks again until `done` holds, a bounded number of times with a short real
// pause: this waits for the operating system, it measures nothing.
template <class Done>
bool WaitFor(Done done, int attempts = 600) {
  for (int i = 0; i < attempts; ++i) {
    if (done()) return true;
    SystemClock().Sleep(std::chrono::milliseconds(50));
  }
  return done();
}

inline std::optional<std::string> ReadFileText(const std::string& file) {
  std::ifstream in(ToNativePath(file), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The content of a file that a helper writes (whole), once it is there; empty
// when it never comes.
inline std::string WaitForFile(const std::string& file) {
  std::optional<std::string> text;
  WaitFor([&] { return (text = ReadFileText(file)).has_value(); });
  std::remove(file.c_str());
  return text.value_or(std::string());
}

// True while the helper of this id runs.
inline bool HelperRunning(std::uint32_t pid) {
  for (const TProcessHandle& process : FindProcessesOfFile(HelperPath())) {
    if (process.Pid() == pid) return true;
  }
  return false;
}

// A helper started by a test: killed when the test ends if it still runs.
class StartedHelper {
 public:
  explicit StartedHelper(std::uint32_t pid) : pid_(pid) {}
  ~StartedHelper() {
    for (const TProcessHandle& process : FindProcessesOfFile(HelperPath())) {
      if (process.Pid() == pid_) process.Terminate();
    }
  }
  StartedHelper(const StartedHelper&) = delete;
  StartedHelper& operator=(const StartedHelper&) = delete;
  std::uint32_t Pid() const { return pid_; }

 private:
  std::uint32_t pid_ = 0;
};

// Starts the helper with "<mode>|<file>[|<rest>]" and reads the first number it
// writes to <file>: its process id (0 when it never wrote it). `reply` receives
// the rest of what it wrote.
inline std::uint32_t StartHelper(const std::string& mode, const std::string& rest = {},
                                 std::string* reply = nullptr) {
  const std::string file = UniqueTempFile(mode);
  const std::string params = mode + "|" + (rest.empty() ? file : rest + "|" + file);
  if (!StartDetached(HelperPath(), OneParameter(params)).ok) return 0;
  std::istringstream text(WaitForFile(file));
  std::uint32_t pid = 0;
  text >> pid;
  if (reply != nullptr) {
    text >> std::ws;
    std::getline(text, *reply);
  }
  return pid;
}

}  // namespace qar::platform::test
