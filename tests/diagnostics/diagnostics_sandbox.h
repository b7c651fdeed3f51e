// A throw-away registry and log directory for the diagnostics tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "diagnostics/monitor_settings.h"
#include "diagnostics/websrv_key.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace qar::diagnostics::testing {

// Each test gets its own directory (under `base`, the temporary directory unless given) and a
// settings cache as at process start. POSIX: HKEY_LOCAL_MACHINE is a fresh file in that
// directory. Windows: the real registry of the (throw-away) prefix; the key's values are
// removed before and after.
class DiagnosticsSandbox : public ::testing::Test {
 public:
  explicit DiagnosticsSandbox(std::string base = platform::TempDirectory()) : base_(std::move(base)) {}
  void SetUp() override {
    static int counter = 0;
    dir_ = base_ + "qar_diag_" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(counter++) +
           platform::kPathDelim;
    std::filesystem::remove_all(platform::ToNativePath(dir_));
    std::filesystem::create_directories(platform::ToNativePath(LogDir()));
    platform::SetEnv("QARSNC_HKLM", dir_ + "HKLM.reg");
    RemoveSettings();
  }
  void TearDown() override {
    RemoveSettings();
    std::filesystem::remove_all(platform::ToNativePath(dir_));
  }
  const std::string& Dir() const { return dir_; }
  std::string LogDir() const { return dir_ + "logs" + platform::kPathDelim; }

  // Writes settings "Name=value|..." (a value "#n" as a registry integer) and, unless
  // told otherwise, forgets the cached ones.
  static void Store(const std::string& settings, bool forget = true) {
    platform::RegistryKey key;
    ASSERT_EQ(key.Open(kWebSrvKey, true), platform::RegStatus::kOk) << key.LastError();
    std::istringstream in(settings);
    for (std::string item; std::getline(in, item, '|');) {
      const std::string name = item.substr(0, item.find('=')), value = item.substr(name.size() + 1);
      EXPECT_EQ(value.starts_with('#') ? key.WriteInteger(name, std::stoi(value.substr(1))) : key.WriteString(name, value),
                platform::RegStatus::kOk) << item;
    }
    if (forget) ResetMonitorSettingsForTest();
  }
  // One integer setting, the cached ones kept (the automation tests' switches).
  static void SetInteger(const char* name, std::int32_t value) { Store(name + ("=#" + std::to_string(value)), false); }
  static void RemoveSettings() {
    platform::RegistryKey key;
    if (key.Open(kWebSrvKey, false) == platform::RegStatus::kOk) {
      for (const char* name : {"TunningID", "SqlMonitor", "SqlMonUser", "TmpFileDir", "StringConex"}) key.DeleteValue(name);
    }
    ResetMonitorSettingsForTest();
  }
  // Monitor on at `level` for every operator, logs in LogDir().
  void MonitorEverybody(int level) { Store("SqlMonitor=#" + std::to_string(level) + "|SqlMonUser=|TmpFileDir=" + LogDir()); }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(platform::ToNativePath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::ptrdiff_t Files(const std::string& dir) {
    return std::distance(std::filesystem::directory_iterator(platform::ToNativePath(dir)), {});
  }
#ifdef QAR_DIAGNOSTICS_GOLDEN_DIR
  // The expected bytes kept in tests/diagnostics/golden/.
  static std::string Golden(const std::string& name) { return ReadFile(QAR_DIAGNOSTICS_GOLDEN_DIR + name); }
#endif

 private:
  std::string base_;  // ends with the path separator
  std::string dir_;
};

// The settings questions' answers in one line: tuning and monitor switches, the level,
// whether each operator is monitored, the log directory ("temp": the system's).
inline std::string Answers(const std::vector<std::string>& operators) {
  std::string text = std::to_string(IsTunningOn());
  text += std::to_string(IsSqlMonitorOn());  // asked first: the level is read with it
  text += " " + std::to_string(SqlMonitorLevel()) + " ";
  for (const std::string& name : operators) text += IsMonitoredUser(name) ? "1" : "0";
  const std::string dir = GetTmpFileDir();
  return text + " " + (dir == platform::TempDirectory() ? "temp" : dir);
}

}  // namespace qar::diagnostics::testing
