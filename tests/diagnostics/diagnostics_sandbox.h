// A throw-away registry and log directory for the diagnostics tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "diagnostics/monitor_settings.h"
#include "diagnostics/websrv_key.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace qar::diagnostics::testing {

// Each test gets its own directory and a settings cache as at process start.
// POSIX: HKEY_LOCAL_MACHINE is a fresh file in that directory. Windows: the real
// registry of the (throw-away) prefix; the four settings are removed before and after.
class DiagnosticsSandbox : public ::testing::Test {
 public:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = platform::TempDirectory() + "qar_diag_" + std::to_string(platform::CurrentProcessId()) +
           "_" + std::to_string(counter++) + platform::kPathDelim;
    std::filesystem::remove_all(platform::ToNativePath(dir_));
    std::filesystem::create_directories(platform::ToNativePath(LogDir()));
    platform::SetEnv("QARSNC_HKLM", dir_ + "HKLM.reg");
    RemoveSettings();
  }
  void TearDown() override {
    RemoveSettings();
    std::error_code ignored;
    std::filesystem::remove_all(platform::ToNativePath(dir_), ignored);
  }

  const std::string& Dir() const { return dir_; }
  std::string LogDir() const { return dir_ + "logs" + platform::kPathDelim; }

  static platform::RegistryKey OpenKey() {
    platform::RegistryKey key;
    EXPECT_EQ(key.Open(kWebSrvKey, true), platform::RegStatus::kOk) << key.LastError();
    return key;
  }
  static void SetInteger(const char* name, std::int32_t value) {
    EXPECT_EQ(OpenKey().WriteInteger(name, value), platform::RegStatus::kOk);
  }
  static void SetString(const char* name, const std::string& value) {
    EXPECT_EQ(OpenKey().WriteString(name, value), platform::RegStatus::kOk);
  }
  static void Remove(const char* name) { OpenKey().DeleteValue(name); }
  static void RemoveSettings() {
    for (const char* name : {"TunningID", "SqlMonitor", "SqlMonUser", "TmpFileDir"}) Remove(name);
    ResetMonitorSettingsForTest();
  }
  // Monitor on at `level` for every operator, logs in LogDir().
  void MonitorEverybody(std::int32_t level) {
    SetInteger("SqlMonitor", level);
    SetString("TmpFileDir", LogDir());
  }

  static bool Exists(const std::string& path) {
    return std::filesystem::exists(platform::ToNativePath(path));
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(platform::ToNativePath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(platform::ToNativePath(path), std::ios::binary | std::ios::trunc) << bytes;
  }
  // Files directly in `dir`, sorted by name.
  static std::vector<std::string> FileNames(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(platform::ToNativePath(dir)))
      names.push_back(platform::FromNativePath(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string dir_;
};

// The expected bytes kept in tests/diagnostics/golden/.
inline std::string Golden(const std::string& name) {
  const std::string text =
      DiagnosticsSandbox::ReadFile(std::string(QAR_DIAGNOSTICS_GOLDEN_DIR) + name);
  EXPECT_FALSE(text.empty()) << "missing golden file " << name;
  return text;
}

}  // namespace qar::diagnostics::testing
