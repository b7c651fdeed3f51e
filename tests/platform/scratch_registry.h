// A throw-away HKEY_LOCAL_MACHINE area for one test: a test key and, on POSIX, its own .reg file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace qar::platform {

// Points QARSNC_HKLM (read only by the POSIX build) at a file in a fresh temp
// directory and names a test key "Software\QarSncTest\<pid>\<test>". The
// destructor deletes the key (the real registry on Windows), the directory and
// puts the variable back. The machine key of the POSIX cipher lands in the same
// directory, so tests never touch /etc/qarsnc.
class ScratchRegistry {
 public:
  ScratchRegistry() {
    static int counter = 0;
    const std::string pid = std::to_string(CurrentProcessId());
    dir_ = std::filesystem::temp_directory_path() /
           ("qarsnc-reg-" + pid + "-" + std::to_string(++counter));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    old_ = GetEnv("QARSNC_HKLM");
    SetEnv("QARSNC_HKLM", FilePath());
    pidKey_ = "Software\\QarSncTest\\" + pid;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    key_ = pidKey_ + "\\" + (test ? std::string(test->name()) : "test");
  }

  ~ScratchRegistry() {
    DeleteRegistryKey(pidKey_);
    if (old_) {
      SetEnv("QARSNC_HKLM", *old_);
    } else {
      UnsetEnv("QARSNC_HKLM");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

  // The test key, below HKEY_LOCAL_MACHINE.
  const std::string& KeyPath() const { return key_; }
  const std::filesystem::path& Directory() const { return dir_; }
  std::string FilePath() const { return (dir_ / "HKLM.reg").string(); }

 private:
  std::filesystem::path dir_;
  std::optional<std::string> old_;
  std::string pidKey_;
  std::string key_;
};

inline std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// UTF-8 text as a .reg file holds it: UTF-16LE with a byte-order mark.
inline std::string Utf16LeFile(std::string_view utf8) {
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace qar::platform
