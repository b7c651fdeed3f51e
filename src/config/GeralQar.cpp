// The connection-string provider. Used from the main thread only.
#include "config/GeralQar.h"

#include <stdexcept>

#include "platform/registry.h"
#include "platform/secret.h"
#include "platform/text.h"

namespace qar::config {

namespace {
struct UnitState {
  int initCount = 0;
  std::vector<std::string> connectionList;
  std::string cachedConnectionString;
};

UnitState& Unit() {
  static UnitState state;
  return state;
}
}  // namespace

std::string UncriptoPlus(std::string text) { return platform::DecryptSecret(text); }

std::string SettingsLocation() {
  const std::string file = platform::RegistryFilePath();
  return file.empty() ? std::string("HKEY_LOCAL_MACHINE\\") + sSiteWebSrvKey : file;
}

std::string ReadConnectionString(const std::string& suffix) {
  platform::RegistryKey key;
  // Reading needs no write access: a process that may not write the key still
  // gets its connection string. A missing key reads as no value; a settings file
  // that cannot be read or parsed is an error naming it.
  const platform::RegStatus opened = key.Open(sSiteWebSrvKey, /*create=*/false, platform::RegAccess::kRead);
  if (opened != platform::RegStatus::kOk && opened != platform::RegStatus::kNotFound) {
    throw std::runtime_error("the settings in " + SettingsLocation() + " cannot be read: " + key.LastError());
  }
  std::string stored;
  const std::string name = std::string(kStringConexValue) + suffix;
  if (key.IsOpen()) {
    switch (key.ReadString(name, stored)) {
      case platform::RegStatus::kOk:
        break;
      case platform::RegStatus::kNotFound:
        stored.clear();
        break;
      default:
        throw std::runtime_error("the value \"" + name + "\" in " + SettingsLocation() +
                                 " cannot be read as text: " + key.LastError());
    }
  }
  try {
    return UncriptoPlus(stored);
  } catch (const platform::ESecretError& error) {
    throw platform::ESecretError("the value \"" + name + "\" in " + SettingsLocation() + " does not decrypt: " +
                                error.what());
  }
}

void LoadConnectionList() {
  UnitState& unit = Unit();
  if (unit.cachedConnectionString.empty()) unit.cachedConnectionString = ReadConnectionString("");
  unit.connectionList.push_back(std::string(kDefaultDatabaseKey) + "=" + unit.cachedConnectionString);
}

std::string GetConnectionString(const std::string& key) {
  const std::string wanted = key.empty() ? kDefaultDatabaseKey : key;
  for (const std::string& line : Unit().connectionList) {
    const std::size_t eq = line.find('=');
    const std::string_view name = std::string_view(line).substr(0, eq);
    if (platform::SameTextAscii(name, wanted)) {
      return eq == std::string::npos ? std::string() : line.substr(eq + 1);
    }
  }
  return {};
}

void InitializeGeralQar() {
  UnitState& unit = Unit();
  if (unit.initCount == 0) {
    unit.connectionList.clear();
    LoadConnectionList();  // a failure here leaves the unit not started
  }
  ++unit.initCount;
}

void FinalizeGeralQar() {
  UnitState& unit = Unit();
  if (unit.initCount > 0 && --unit.initCount == 0) {
    unit.connectionList.clear();
    unit.cachedConnectionString.clear();
  }
}

std::vector<std::string> ConnectionListLines() { return Unit().connectionList; }

}  // namespace qar::config
