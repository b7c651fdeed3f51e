// A benchmark program's throw-away directory, with its own settings file, and its run.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::bench {

// Creates "<temp>/<name>_<pid>/" and points the settings at a file in it; removes it all
// at the end of the program:
//
//   TBenchSandbox sandbox("qar_diag_bench");
//   ... write the settings, create the database under sandbox.Dir() ...
//   return RunBenchmarks(argc, argv);
class TBenchSandbox {
 public:
  explicit TBenchSandbox(std::string_view name)
      : dir_(platform::TempDirectory() + std::string(name) + "_" + std::to_string(platform::CurrentProcessId()) +
             platform::kPathDelim) {
    std::filesystem::create_directories(platform::ToNativePath(dir_));
    platform::SetEnv("QARSNC_HKLM", dir_ + "HKLM.reg");
  }
  ~TBenchSandbox() {
    std::error_code ignored;
    std::filesystem::remove_all(platform::ToNativePath(dir_), ignored);
  }
  TBenchSandbox(const TBenchSandbox&) = delete;
  TBenchSandbox& operator=(const TBenchSandbox&) = delete;

  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

inline int RunBenchmarks(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace qar::bench
