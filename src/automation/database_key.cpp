#include "automation/database_key.h"

#include <memory>
#include <mutex>

#include "platform/text.h"

namespace qar::automation {

namespace {

constexpr std::size_t kMaxDatabaseKey = 255;

thread_local std::string tCurrentDatabaseKey;

std::mutex gListMutex;
std::shared_ptr<const std::vector<std::string>> gServerConnectionList;

std::shared_ptr<const std::vector<std::string>> ServerConnectionList() {
  std::lock_guard lock(gListMutex);
  return gServerConnectionList;
}

std::string ValueOf(const std::vector<std::string>& list, std::string_view key) {
  for (const std::string& line : list) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos && platform::AnsiSameText(std::string_view(line).substr(0, equals), key))
      return line.substr(equals + 1);
  }
  return {};
}

}  // namespace

std::string CurrentDatabaseKey() { return tCurrentDatabaseKey; }

void SetCurrentDatabaseKey(std::string_view key) {
  tCurrentDatabaseKey.assign(key.substr(0, kMaxDatabaseKey));
}

void SetServerConnectionList(std::optional<std::vector<std::string>> lines) {
  std::shared_ptr<const std::vector<std::string>> list;
  if (lines) list = std::make_shared<const std::vector<std::string>>(std::move(*lines));
  std::lock_guard lock(gListMutex);
  gServerConnectionList = std::move(list);
}

void NotifyStorageComponents(TComponent& component) {
  for (int i = 0; i < component.ComponentCount(); ++i) {
    TComponent& owned = component.Components(i);
    if (!platform::AnsiSameText(owned.ClassName(), kStorageClassName)) continue;
    TMessage message;
    message.Msg = kStorageMessage;
    owned.Dispatch(message);
  }
}

void SelectCallDatabase(TComponent& component, std::string_view databaseKey) {
  const std::string key = platform::TrimControl(databaseKey);
  SetCurrentDatabaseKey(key);
  if (key == kDefaultDatabaseKey) return;
  const std::shared_ptr<const std::vector<std::string>> list = ServerConnectionList();
  if (list && ValueOf(*list, key) != ValueOf(*list, kDefaultDatabaseKey)) NotifyStorageComponents(component);
}

}  // namespace qar::automation
