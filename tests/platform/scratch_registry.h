// A throw-away HKEY_LOCAL_MACHINE area for one test: a test key and, on POSIX, its own .reg file.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace qar::platform {

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Points QARSNC_HKLM (read by the POSIX build only) at a file in a fresh directory under `base`
// (the temp directory unless given), where the POSIX cipher's machine key lands too, and names a
// test key "Software\QarSncTest\<pid>-<n>". The destructor deletes the key (Windows: the real
// registry) and the directory, and puts the variable back.
class ScratchRegistry {
 public:
  explicit ScratchRegistry(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
    static int counter = 0;
    const std::string id = std::to_string(CurrentProcessId()) + "-" + std::to_string(++counter);
    dir_ = base / ("qarsnc-reg-" + id);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    old_ = GetEnv("QARSNC_HKLM");
    SetEnv("QARSNC_HKLM", FilePath());
    key_ = "Software\\QarSncTest\\" + id;
  }
  ~ScratchRegistry() {
    DeleteRegistryKey(key_);
    old_ ? SetEnv("QARSNC_HKLM", *old_) : UnsetEnv("QARSNC_HKLM");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  ScratchRegistry(const ScratchRegistry&) = delete;

  const std::string& KeyPath() const { return key_; }  // below HKEY_LOCAL_MACHINE
  const std::filesystem::path& Directory() const { return dir_; }
  std::string FilePath() const { return (dir_ / "HKLM.reg").string(); }

 private:
  std::filesystem::path dir_;
  std::optional<std::string> old_;
  std::string key_;
};

}  // namespace qar::platform
