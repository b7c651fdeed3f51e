// The database a call selects: the calling thread's database key, the hosting server's connection list, storage notification.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/component.h"

namespace qar::automation {

// The key of the installation's own database.
inline constexpr std::string_view kDefaultDatabaseKey = "211";
// The message storage components get when a call selects another database.
inline constexpr unsigned kStorageMessage = 1025;
inline constexpr std::string_view kStorageClassName = "TADOSQLStorage";

// The database key of the call the calling thread is serving: set (trimmed) during a
// call with a database key in its identity, empty otherwise and after every call.
// Each thread has its own; components of the hosting server read it here.
std::string CurrentDatabaseKey();
void SetCurrentDatabaseKey(std::string_view key);  // kept to 255 characters

// The hosting server's connection strings by database key, as name=value lines
// ("211=Provider=SQLOLEDB;..."); the layer only reads them. Absent until the server
// sets it; std::nullopt removes it again. Safe to call while calls are running.
void SetServerConnectionList(std::optional<std::vector<std::string>> lines);

// Delivers message 1025 synchronously (TComponent::Dispatch), in index order, to every
// component `component` owns whose class name is "TADOSQLStorage", ignoring case.
void NotifyStorageComponents(TComponent& component);

// What a call with a database key does first: CurrentDatabaseKey := the key without
// its blanks; when that is not "211" and the server's list gives the key another
// connection string than "211", the component's storage components are notified.
// Without a list nothing is compared and nobody is notified.
void SelectCallDatabase(TComponent& component, std::string_view databaseKey);

}  // namespace qar::automation
