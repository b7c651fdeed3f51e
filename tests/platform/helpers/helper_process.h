// Starting, finding and waiting for QarPlatformTestHelper.exe from the platform and agent tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
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
  return TempDirectory() + "qarsnc-test-" + std::to_string(CurrentProcessId()) + "-" + tag + "-" + std::to_string(++counter);
}

// The helper's one parameter string, quoted where the started program splits a command line.
inline std::string OneParameter(const std::string& text) { return kStartParamsAreCommandLine ? "\"" + text + "\"" : text; }

// Asks again until `done` holds, a bounded number of times with a short real pause:
// this waits for the operating system, it measures nothing.
template <class Done>
bool WaitFor(Done done, int attempts = 600) {
  for (int i = 0; i < attempts; ++i, SystemClock().Sleep(std::chrono::milliseconds(50))) {
    if (done()) return true;
  }
  return done();
}

// What a helper wrote to `file` (whole), once it is there, and the file removed; empty when it never comes.
inline std::string WaitForFile(const std::string& file) {
  std::string text;
  WaitFor([&] {
    std::ifstream in(ToNativePath(file), std::ios::binary);
    return in && !text.assign(std::istreambuf_iterator<char>(in), {}).empty();
  });
  std::remove(file.c_str());
  return text;
}

// A helper started with "<mode>|[<rest>|]<file>": Pid() is the id it wrote (0 when it
// never did), Reply() the rest of what it wrote. Killed when the test ends, if it runs.
class StartedHelper {
 public:
  explicit StartedHelper(const std::string& mode, const std::string& rest = {}) {
    const std::string file = UniqueTempFile(mode);
    if (!StartDetached(HelperPath(), OneParameter(mode + "|" + (rest.empty() ? "" : rest + "|") + file)).ok) return;
    std::istringstream text(WaitForFile(file));
    text >> pid_ >> std::ws;
    std::getline(text, reply_);
  }
  ~StartedHelper() { Kill(); }
  StartedHelper(const StartedHelper&) = delete;
  StartedHelper& operator=(const StartedHelper&) = delete;
  std::uint32_t Pid() const { return pid_; }
  const std::string& Reply() const { return reply_; }
  void Kill() const { Find().Terminate(); }

 private:
  TProcessHandle Find() const {  // held while it is identified, so no later holder of the id is met
    for (TProcessHandle& process : FindProcessesOfFile(HelperPath())) {
      if (process.Pid() == pid_) return std::move(process);
    }
    return {};
  }
  std::uint32_t pid_ = 0;
  std::string reply_;
};

}  // namespace qar::platform::test
