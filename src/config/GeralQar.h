// The connection-string provider: reads the encrypted connection string once and serves it by key.
#pragma once

#include <string>
#include <vector>

namespace qar::config {

// The registry key (under HKEY_LOCAL_MACHINE) of the whole installation.
inline constexpr const char* sSiteWebSrvKey = "Software\\VALTIRA\\Sistemas Integrados Valtira\\WebSrv";
// The value that holds the encrypted connection string (plus a key suffix).
inline constexpr const char* kStringConexValue = "StringConex";
// The database key of the agent's connection string.
inline constexpr const char* kDefaultDatabaseKey = "211";

// Undoes the encryption of a stored connection string. Empty text gives empty
// text; a value that does not decrypt raises platform::ESecretError.
std::string UncriptoPlus(std::string text);

// Where the settings live, for messages: POSIX the settings file, Windows the
// registry key.
std::string SettingsLocation();

// Reads and decrypts "StringConex" + suffix. A missing key or value reads as
// empty text; a settings file that cannot be read, a value of another type or one
// that does not decrypt raises, naming SettingsLocation() and the reason.
std::string ReadConnectionString(const std::string& suffix);

// Fills the connection list with the line "211=" + the decrypted connection string.
void LoadConnectionList();

// The connection string for a database key; an empty key means "211". Keys are
// compared without regard to case; an unknown key gives empty text.
std::string GetConnectionString(const std::string& key);

// Unit start and end, counted so that they run once however often requested.
// The first start reads the registry (and may raise); the last end clears all.
void InitializeGeralQar();
void FinalizeGeralQar();

// The list as it stands (name=value lines), for diagnostics and tests.
std::vector<std::string> ConnectionListLines();

}  // namespace qar::config
