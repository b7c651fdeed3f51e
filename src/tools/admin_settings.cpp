#include "tools/admin_settings.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <filesystem>

#include "config/GeralQar.h"
#include "data/ado_connection.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "data/driver_session.h"
#include "diagnostics/connection_mask.h"
#include "diagnostics/websrv_key.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/secret.h"
#include "platform/shared_file.h"
#include "platform/text.h"
#include "state/command_error.h"
#include "state/shown_text.h"

namespace qar::tools {

using state::ECommandError;
using state::EUsageError;
using state::Printable;
using state::Quoted;

namespace {

enum class TSettingKind { kDword, kText };

struct TSettingInfo {
  const char* name;
  TSettingKind kind;
  std::size_t maxLength;  // texts: the length the diagnostics keep
  bool mayBeEmpty;
  // Numbers: the largest value the system uses. What the setting takes, as the
  // refusal of a number and the usage say it.
  std::uint32_t maxNumber = 0xFFFFFFFF;
  const char* range = "a whole number from 0 to 4294967295";
  bool directory = false;  // texts: an absolute directory the logs go to
  std::uint32_t minNumber = 0;
};

// Every setting `set` accepts and `show` prints, in this order; the messages and the
// usage name them from here. The diagnostics cut SqlMonUser to 255 and TmpFileDir to
// 200 characters; a longer value would be used cut, so it is refused here instead. A
// number the system would read as another (SqlMonitor 9 as a level nobody documented,
// TunningID 2 as off) is refused too.
constexpr TSettingInfo kSettings[] = {
    {"TunningID", TSettingKind::kDword, 0, false, 1, "0 (off) or 1 (sessions registered)"},
    {"SqlMonitor", TSettingKind::kDword, 0, false, 4, "a level from 0 (off) to 4"},
    {"SqlMonUser", TSettingKind::kText, 255, true, 0, "the monitored operators (empty: every one)"},
    {"TmpFileDir", TSettingKind::kText, 200, false, 0, "an absolute directory for the logs", true},
    {"MaxWorkerRuns", TSettingKind::kDword, 0, false, 0x7FFFFFFF, "0 (no limit) or a number of runs up to 2147483647"},
    {"MaxWorkerOutput", TSettingKind::kDword, 0, false, 1024, "a number of megabytes from 1 to 1024", false, 1},
    {"ConnectionPooling", TSettingKind::kDword, 0, false, 1, "0 (off) or 1 (on)"},
    {"PoolMaxIdleSessions", TSettingKind::kDword, 0, false, 64, "a number of sessions from 1 to 64", false, 1},
    {"PoolIdleTimeout", TSettingKind::kDword, 0, false, 3600, "a number of seconds from 1 to 3600", false, 1},
};

const TSettingInfo* FindSetting(const std::string& name) {
  for (const TSettingInfo& setting : kSettings)
    if (platform::SameTextAscii(name, setting.name)) return &setting;
  return nullptr;
}

std::string KeyDisplayName(std::string_view path) {
  return "HKEY_LOCAL_MACHINE\\" + std::string(path);
}

// Longest setting value `show` prints whole; the diagnostics keep at most 255.
constexpr std::size_t kMaxShownSetting = 300;


platform::RegistryKey OpenForWriting(std::string_view path) {
  platform::RegistryKey key;
  if (key.Open(path, /*create=*/true, platform::RegAccess::kFull) != platform::RegStatus::kOk) {
    throw ECommandError("the registry key " + KeyDisplayName(path) +
                        " cannot be opened for writing: " + key.LastError());
  }
  return key;
}

std::uint32_t ParseDword(const TSettingInfo& setting, const std::string& text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value > setting.maxNumber || value < setting.minNumber) {
    throw EUsageError(std::string(setting.name) + " takes " + setting.range + ", not \"" + Quoted(text) + "\"");
  }
  return static_cast<std::uint32_t>(value);
}

// A text setting's form: one line, and for the log directory an absolute path (a
// relative one would resolve against each server's own working directory). A
// directory that is missing or that this user may not write is stored with a
// warning: it may be made later, or be meant for the agents' group.
void CheckText(const TSettingInfo& setting, const std::string& value, std::vector<std::string>& notes) {
  const auto control = std::find_if(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  if (control != value.end()) {
    throw EUsageError(std::string(setting.name) + " holds a control character (" +
                      Printable(std::string_view(&*control, 1)) + ") at position " +
                      std::to_string(control - value.begin() + 1) + "; it must be one line of text");
  }
  if (!setting.directory) return;
  if (!platform::ToNativePath(value).is_absolute()) {
    throw EUsageError(std::string(setting.name) + " takes an absolute directory, not \"" + Quoted(value) + "\"");
  }
  // The value is stored: the warning shows the whole path the operator has to make or open up.
  std::error_code error;
  if (!std::filesystem::is_directory(platform::ToNativePath(value), error)) {
    notes.push_back("warning: the directory \"" + Printable(value) + "\" does not exist; no log is written until it is made");
  } else if (!platform::CanWriteInDirectory(value)) {
    notes.push_back("warning: this user may not write in \"" + Printable(value) +
                    "\"; the programs that log there need that right");
  }
}

// A relative database file resolves against each program's own working directory.
bool IsRelativeSqliteFile(const std::string& connectionString) {
  const TDriverChoice choice =
      ChooseDriver(connectionString, DefaultSqlServerOdbcDriver(), DefaultOracleOdbcDriver());
  return choice.kind == TDriverChoice::kEmbeddedSqlite && choice.target != ":memory:" &&
         platform::ToNativePath(choice.target).is_relative();
}

std::string DescribeConnectionString(platform::RegistryKey& key, bool keyOpen,
                                     std::vector<std::string>& problems) {
  if (!keyOpen) return "(not set)";
  std::string stored;
  switch (key.ReadString(config::kStringConexValue, stored)) {
    case platform::RegStatus::kOk:
      break;
    case platform::RegStatus::kNotFound:
      return "(not set)";
    case platform::RegStatus::kWrongType:
      problems.push_back(std::string(config::kStringConexValue) + " in " + SettingsPlace() + " is not a string value");
      return "(not a string value)";
    default:
      problems.push_back(std::string(config::kStringConexValue) + " in " + SettingsPlace() +
                         " cannot be read: " + key.LastError());
      return "(cannot be read)";
  }
  if (stored.empty()) return "(empty)";
  try {
    return Printable(diagnostics::MaskConnectionString(config::ReadConnectionString("")));
  } catch (const std::exception& error) {
    problems.push_back(std::string(config::kStringConexValue) + " in " + SettingsPlace() +
                       " does not decrypt: " + error.what());
    return "(stored, but it does not decrypt on this machine)";
  }
}

std::string DescribeSetting(platform::RegistryKey& key, bool keyOpen, const TSettingInfo& setting,
                            std::vector<std::string>& problems) {
  if (!keyOpen) return "(not set)";
  platform::RegStatus status;
  std::string shown;
  if (setting.kind == TSettingKind::kDword) {
    std::int32_t value = 0;
    status = key.ReadInteger(setting.name, value);
    shown = std::to_string(static_cast<std::uint32_t>(value));
  } else {
    status = key.ReadString(setting.name, shown);
  }
  switch (status) {
    case platform::RegStatus::kOk:
      return shown.empty() ? "(empty)" : Quoted(shown, kMaxShownSetting);
    case platform::RegStatus::kNotFound:
      return "(not set)";
    case platform::RegStatus::kWrongType: {
      const char* wanted = setting.kind == TSettingKind::kDword ? "a DWORD value" : "a string value";
      problems.push_back(std::string(setting.name) + " in " + SettingsPlace() + " is not " + wanted);
      return std::string("(not ") + wanted + ")";
    }
    default:
      problems.push_back(std::string(setting.name) + " in " + SettingsPlace() + " cannot be read: " +
                         key.LastError());
      return "(cannot be read)";
  }
}

}  // namespace

void CheckConnectionStringForm(const std::string& connectionString) {
  // A line break would split the value wherever it is shown and read; no driver needs one.
  const auto control = std::find_if(connectionString.begin(), connectionString.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
  if (control != connectionString.end()) {
    throw EUsageError("the connection string holds a control character (" +
                      Printable(std::string_view(&*control, 1)) + ") at position " +
                      std::to_string(control - connectionString.begin() + 1) +
                      "; it must be one line of text");
  }
  const auto pairs = ParseConnectionString(connectionString);
  if (pairs.empty()) {
    throw EUsageError("the connection string does not parse: it holds no Key=Value pair");
  }
  std::string provider;
  bool odbc = false;
  for (const auto& [key, value] : pairs) {
    if (platform::SameTextAscii(key, "Provider") && provider.empty()) provider = value;
    if (platform::SameTextAscii(key, "Driver") || platform::SameTextAscii(key, "DSN") ||
        platform::SameTextAscii(key, "FILEDSN")) {
      odbc = odbc || !value.empty();
    }
  }
  if (provider.empty() && !odbc) {
    throw EUsageError("the connection string names no Provider=, Driver= or DSN=");
  }
  try {
    ChooseDriver(connectionString, DefaultSqlServerOdbcDriver(), DefaultOracleOdbcDriver());
  } catch (const EDataError& error) {
    throw EUsageError(std::string("the connection string does not select a database driver: ") +
                      error.what());
  }
}

std::string EmbeddedDatabaseFile(const std::string& connectionString) {
  try {
    const TDriverChoice choice =
        ChooseDriver(connectionString, DefaultSqlServerOdbcDriver(), DefaultOracleOdbcDriver());
    if (choice.kind == TDriverChoice::kEmbeddedSqlite && choice.target != ":memory:") return choice.target;
  } catch (const EDataError&) {
  }
  return {};
}

void CheckEmbeddedDatabaseExists(const std::string& connectionString) {
  const std::string file = EmbeddedDatabaseFile(connectionString);
  std::error_code error;
  if (file.empty() || std::filesystem::exists(platform::ToNativePath(file), error)) return;
  throw ECommandError("the database file " + Quoted(file, 200) +
                      " does not exist (QarCfg set-connection --create makes a new, empty one)");
}

std::vector<std::string> StoreConnectionString(const std::string& connectionString, bool create) {
  CheckConnectionStringForm(connectionString);
  std::vector<std::string> notes;
  const std::string file = EmbeddedDatabaseFile(connectionString);
  // A file made here goes again when a later step fails: nothing is left behind.
  struct TMadeFile {
    std::filesystem::path path;
    ~TMadeFile() {
      std::error_code ignored;
      if (!path.empty()) std::filesystem::remove(path, ignored);
    }
  } made;
  std::error_code exists;
  if (!file.empty() && !std::filesystem::exists(platform::ToNativePath(file), exists)) {
    if (!create) {
      throw ECommandError("the database file " + Quoted(file, 200) +
                          " does not exist; check the path, or add --create to make a new, empty database there");
    }
    try {
      notes.push_back("created the database file " + Printable(file) + " (" +
                      platform::CreateGroupFile(file, kInstallationGroup) + ")");
      made.path = platform::ToNativePath(file);
    } catch (const std::runtime_error& error) {
      throw ECommandError(std::string("the database cannot be created: ") + error.what());
    }
  }
  try {
    TADOConnection connection;
    connection.SetConnectionString(connectionString);
    connection.Open();
    connection.Close();
  } catch (const EDataError& error) {
    throw ECommandError("the database " + DatabaseName(connectionString) +
                        " cannot be reached: " + error.what());
  }

  std::string stored;
  try {
    stored = platform::EncryptSecret(connectionString);
    if (platform::DecryptSecret(stored) != connectionString) {
      throw platform::ESecretError("the encrypted text does not decrypt to the original");
    }
  } catch (const platform::ESecretError& error) {
    throw ECommandError(std::string("the connection string cannot be encrypted: ") + error.what());
  }

  platform::RegistryKey key = OpenForWriting(config::sSiteWebSrvKey);
  if (key.WriteString(config::kStringConexValue, stored) != platform::RegStatus::kOk) {
    throw ECommandError(std::string(config::kStringConexValue) + " cannot be written: " + key.LastError());
  }

  made.path.clear();
  if (IsRelativeSqliteFile(connectionString)) {
    notes.push_back("note: the database file name is relative; each program resolves it "
                    "against its own working directory");
  }
  return notes;
}

std::string SettingNames(std::string_view separator) {
  std::string names;
  for (const TSettingInfo& setting : kSettings) names += (names.empty() ? "" : std::string(separator)) + setting.name;
  return names;
}

std::vector<std::string> SettingRanges() {
  std::vector<std::string> ranges;
  for (const TSettingInfo& setting : kSettings) ranges.push_back(std::string(setting.name) + " " + setting.range);
  return ranges;
}

std::string StoreSetting(const std::string& name, const std::string& value, std::vector<std::string>* notes) {
  const TSettingInfo* setting = FindSetting(name);
  if (setting == nullptr) {
    throw EUsageError("unknown setting \"" + Quoted(name) + "\" (" + SettingNames(", ") + ")");
  }
  if (setting->kind == TSettingKind::kDword) {
    const std::uint32_t dword = ParseDword(*setting, value);
    platform::RegistryKey key = OpenForWriting(diagnostics::kWebSrvKey);
    if (key.WriteInteger(setting->name, static_cast<std::int32_t>(dword)) != platform::RegStatus::kOk) {
      throw ECommandError(std::string(setting->name) + " cannot be written: " + key.LastError());
    }
    return setting->name;
  }
  if (value.empty() && !setting->mayBeEmpty) {
    throw EUsageError(std::string(setting->name) + " cannot be empty");
  }
  if (value.size() > setting->maxLength) {
    throw EUsageError(std::string(setting->name) + " takes at most " +
                      std::to_string(setting->maxLength) + " characters, not " +
                      std::to_string(value.size()));
  }
  std::vector<std::string> warnings;
  CheckText(*setting, value, warnings);
  platform::RegistryKey key = OpenForWriting(diagnostics::kWebSrvKey);
  if (key.WriteString(setting->name, value) != platform::RegStatus::kOk) {
    throw ECommandError(std::string(setting->name) + " cannot be written: " + key.LastError());
  }
  if (notes) notes->insert(notes->end(), warnings.begin(), warnings.end());
  return setting->name;
}

std::string SettingsPlace() {
  const std::string file = platform::RegistryFilePath();
  return Printable(file.empty() ? KeyDisplayName(diagnostics::kWebSrvKey) : file);
}

std::string DatabaseName(const std::string& connectionString) {
  try {
    const TDriverChoice choice =
        ChooseDriver(connectionString, DefaultSqlServerOdbcDriver(), DefaultOracleOdbcDriver());
    if (choice.kind == TDriverChoice::kEmbeddedSqlite) return Quoted(choice.target, 200);
  } catch (const EDataError&) {
  }
  std::string shown = Quoted(diagnostics::MaskConnectionString(connectionString), 200);
  shown.insert(0, 1, '(');
  return shown + ')';
}

TSettingsReport DescribeSettings() {
  TSettingsReport report;
  const std::string file = platform::RegistryFilePath();
  std::error_code error;
  const bool missingFile = !file.empty() && !std::filesystem::exists(platform::ToNativePath(file), error);
  if (!file.empty()) report.lines.push_back("Registry file: " + Printable(file) + (missingFile ? " (missing)" : ""));
  report.lines.push_back("Key:         " + KeyDisplayName(diagnostics::kWebSrvKey));

  // Read access only: showing must never create the key or need write rights.
  platform::RegistryKey key;
  const platform::RegStatus status =
      key.Open(diagnostics::kWebSrvKey, /*create=*/false, platform::RegAccess::kRead);
  const bool keyOpen = status == platform::RegStatus::kOk;
  if (missingFile) {
    report.problems.push_back("the settings file " + Printable(file) +
                              " does not exist, so nothing is set (QarCfg set-connection makes it)");
  } else if (status == platform::RegStatus::kNotFound) {
    report.problems.push_back("the key " + KeyDisplayName(diagnostics::kWebSrvKey) + " does not exist in " +
                              SettingsPlace() + ", so nothing is set (QarCfg set-connection makes it)");
  } else if (!keyOpen) {
    report.problems.push_back("the registry key cannot be opened in " + SettingsPlace() + ": " +
                              key.LastError());
  }
  report.lines.push_back("StringConex: " + DescribeConnectionString(key, keyOpen, report.problems));
  for (const TSettingInfo& setting : kSettings) {
    std::string label = std::string(setting.name) + ": ";
    if (label.size() < 13) label.resize(13, ' ');
    report.lines.push_back(label + DescribeSetting(key, keyOpen, setting, report.problems));
  }
  return report;
}

}  // namespace qar::tools
