// The cached server settings: TunningID, SqlMonitor, SqlMonUser and TmpFileDir.
#include "diagnostics/monitor_settings.h"

#include <atomic>
#include <mutex>

#include "diagnostics/websrv_key.h"
#include "platform/module.h"
#include "platform/registry.h"

namespace qar::diagnostics {

namespace {

using platform::RegAccess;
using platform::RegistryKey;
using platform::RegStatus;

constexpr std::int8_t kIntegerNotRead = -1;
constexpr std::string_view kUserListNotRead = "LOADREG";
constexpr std::size_t kMaxUserList = 255;
constexpr std::size_t kMaxOperatorName = 255;
constexpr std::size_t kMaxTmpFileDir = 200;

// The integers are plain atomics. The two texts are written under their mutex and
// then published by their flag; once published they never change, so readers that
// see the flag read them without a lock.
struct MonitorSettings {
  std::atomic<std::int8_t> tunningId{kIntegerNotRead};
  std::atomic<std::int8_t> sqlMonitor{kIntegerNotRead};
  std::mutex tunningIdMutex;
  std::mutex sqlMonitorMutex;

  std::mutex sqlMonUserMutex;
  std::string sqlMonUser{kUserListNotRead};
  std::atomic<bool> sqlMonUserRead{false};

  std::mutex tmpFileDirMutex;
  std::string tmpFileDir;
  std::atomic<bool> tmpFileDirRead{false};
};

MonitorSettings& Settings() {
  static MonitorSettings settings;
  return settings;
}

enum class ReadOutcome { kKeyNotOpened, kRead, kFailed };

// Opens the settings key and runs `read` on it. The key is opened for full access
// and created when missing, so a key the process may not write is not opened at all.
// This is where every failure of a settings read is swallowed: a settings question
// never disturbs the work that asks it.
template <typename Read>
ReadOutcome ReadFromSettingsKey(Read&& read) noexcept {
  try {
    RegistryKey key;
    if (key.Open(kWebSrvKey, /*create=*/true, RegAccess::kFull) != RegStatus::kOk) {
      return ReadOutcome::kKeyNotOpened;
    }
    return read(key) ? ReadOutcome::kRead : ReadOutcome::kFailed;
  } catch (...) {
    return ReadOutcome::kFailed;
  }
}

// The low 8 bits of a registry integer; 0 when the key does not open or the value is
// missing or of another type.
std::int8_t ReadLowByte(std::string_view name) {
  std::int32_t value = 0;
  const ReadOutcome outcome = ReadFromSettingsKey(
      [&](RegistryKey& key) { return key.ReadInteger(name, value) == RegStatus::kOk; });
  if (outcome != ReadOutcome::kRead) return 0;
  return static_cast<std::int8_t>(static_cast<std::uint8_t>(value & 0xFF));
}

std::int8_t CachedInteger(std::atomic<std::int8_t>& field, std::mutex& mutex,
                          std::string_view name) {
  std::int8_t value = field.load(std::memory_order_acquire);
  if (value != kIntegerNotRead) return value;
  std::lock_guard lock(mutex);
  value = field.load(std::memory_order_acquire);
  if (value != kIntegerNotRead) return value;
  // Published once, with the final value: nobody sees a provisional 0.
  value = ReadLowByte(name);
  field.store(value, std::memory_order_release);
  return value;
}

bool IsSeparator(char c) { return c == platform::kPathDelim || c == '\\'; }

bool ListSelects(std::string_view list, std::string_view operatorName) {
  if (list.empty()) return true;
  operatorName = operatorName.substr(0, kMaxOperatorName);
  if (operatorName.empty()) return false;
  return list.find(operatorName) != std::string_view::npos;
}

}  // namespace

bool IsTunningOn() {
  auto& s = Settings();
  return CachedInteger(s.tunningId, s.tunningIdMutex, "TunningID") == 1;
}

bool IsSqlMonitorOn() {
  auto& s = Settings();
  return CachedInteger(s.sqlMonitor, s.sqlMonitorMutex, "SqlMonitor") > 0;
}

std::int32_t SqlMonitorLevel() {
  return Settings().sqlMonitor.load(std::memory_order_acquire);
}

bool IsMonitoredUser(std::string_view operatorName) {
  if (!IsSqlMonitorOn()) return false;
  auto& s = Settings();
  if (s.sqlMonUserRead.load(std::memory_order_acquire)) {
    return ListSelects(s.sqlMonUser, operatorName);
  }
  std::lock_guard lock(s.sqlMonUserMutex);
  if (s.sqlMonUserRead.load(std::memory_order_acquire)) {
    return ListSelects(s.sqlMonUser, operatorName);
  }
  std::string list;
  const ReadOutcome outcome = ReadFromSettingsKey([&](RegistryKey& key) {
    const RegStatus status = key.ReadString("SqlMonUser", list);
    if (status == RegStatus::kNotFound) list.clear();  // a missing value reads as empty
    return status == RegStatus::kOk || status == RegStatus::kNotFound;
  });
  if (outcome != ReadOutcome::kRead) list.clear();
  if (list.size() > kMaxUserList) list.resize(kMaxUserList);
  s.sqlMonUser = list;
  // "LOADREG" read from the registry is the marker itself: read again next time.
  if (list != kUserListNotRead) s.sqlMonUserRead.store(true, std::memory_order_release);
  // A value that could not be read selects nobody this once, and everybody later.
  if (outcome == ReadOutcome::kFailed) return false;
  return ListSelects(list, operatorName);
}

std::string GetTmpFileDir() {
  auto& s = Settings();
  if (s.tmpFileDirRead.load(std::memory_order_acquire)) return s.tmpFileDir;
  std::lock_guard lock(s.tmpFileDirMutex);
  if (s.tmpFileDirRead.load(std::memory_order_acquire)) return s.tmpFileDir;

  std::string field;
  std::string result;
  try {
    // The system temporary directory stands unless the registry names another one.
    field = platform::TempDirectory().substr(0, kMaxTmpFileDir);
    std::string value;
    const ReadOutcome outcome = ReadFromSettingsKey([&](RegistryKey& key) {
      const RegStatus status = key.ReadString("TmpFileDir", value);
      if (status == RegStatus::kNotFound) value.clear();
      return status == RegStatus::kOk || status == RegStatus::kNotFound;
    });
    if (outcome == ReadOutcome::kRead && !value.empty()) {
      field = value.substr(0, kMaxTmpFileDir);
      if (!IsSeparator(field.back()) && field.size() < kMaxTmpFileDir) {
        field += platform::kPathDelim;
      }
    }
    // A value of another type fails this request only; the temporary directory,
    // already in the field, answers the later ones.
    if (outcome != ReadOutcome::kFailed) result = field;
  } catch (...) {
    // Swallowed like every settings failure: the request answers an empty directory.
    result.clear();
  }
  if (!field.empty()) {
    s.tmpFileDir = field;
    s.tmpFileDirRead.store(true, std::memory_order_release);
  }
  return result;
}

TSessionPoolSettings SessionPoolSettings() {
  TSessionPoolSettings settings;
  ReadFromSettingsKey([&](RegistryKey& key) {
    std::int32_t value = 0;
    if (key.ReadInteger("ConnectionPooling", value) == RegStatus::kOk && (value == 0 || value == 1))
      settings.enabled = value == 1;
    if (key.ReadInteger("PoolMaxIdleSessions", value) == RegStatus::kOk && value >= 1 && value <= 64)
      settings.maxIdlePerKey = static_cast<std::size_t>(value);
    if (key.ReadInteger("PoolIdleTimeout", value) == RegStatus::kOk && value >= 1 && value <= 3600)
      settings.idleTime = std::chrono::seconds(value);
    return true;
  });
  return settings;
}

void ResetMonitorSettingsForTest() {
  auto& s = Settings();
  std::scoped_lock lock(s.tunningIdMutex, s.sqlMonitorMutex, s.sqlMonUserMutex, s.tmpFileDirMutex);
  s.tunningId.store(kIntegerNotRead);
  s.sqlMonitor.store(kIntegerNotRead);
  s.sqlMonUserRead.store(false);
  s.sqlMonUser = kUserListNotRead;
  s.tmpFileDirRead.store(false);
  s.tmpFileDir.clear();
}

}  // namespace qar::diagnostics
