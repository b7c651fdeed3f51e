// The administrator's side of the WebSrv registry key: the encrypted connection string and the server settings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qar::tools {

// Raises EUsageError for a text holding a control character (a line break, say) and
// unless the text selects a database driver: a provider the data
// layer knows ("Provider=SQLite;Data Source=...", SQLOLEDB, MSOLEDBSQL, MSDAORA, ...)
// or an ODBC "Driver=" / "DSN=" string.
void CheckConnectionStringForm(const std::string& connectionString);

// The group whose members run the agents of an installation (the package makes it).
inline constexpr const char* kInstallationGroup = "qarsnc";

// The embedded database file the connection string names, or empty (another
// driver, or an in-memory database).
std::string EmbeddedDatabaseFile(const std::string& connectionString);

// Raises ECommandError when the string names an embedded database file that does not
// exist: a mistyped path must not become a new, empty database.
void CheckEmbeddedDatabaseExists(const std::string& connectionString);

// Checks the form, connects once (open and close) to prove the database can be
// reached, then stores the text encrypted as "StringConex". An embedded database
// file that does not exist is refused unless `create` is set; then it is made for the
// installation's group (mode 0660, kInstallationGroup when it exists). Nothing is
// written when a step fails (EUsageError for the form, ECommandError for the rest).
// Returns notes worth showing the administrator (may be empty).
std::vector<std::string> StoreConnectionString(const std::string& connectionString, bool create = false);

// The names of the server settings StoreSetting accepts (and `show` prints), in
// order, joined by `separator`; and for each, its name and what it takes.
std::string SettingNames(std::string_view separator);
std::vector<std::string> SettingRanges();

// Stores one of the settings SettingNames lists, checked against what it takes (a
// number in its range; a text of one line, SqlMonUser of at most 255 characters,
// TmpFileDir an absolute directory of at most 200). The name is accepted in any case
// and stored in the case SettingNames gives, which is returned. A wrong name or value
// raises EUsageError before the registry is touched.
// A log directory that is missing or not writable here is stored, with a warning
// added to `notes`.
std::string StoreSetting(const std::string& name, const std::string& value,
                         std::vector<std::string>* notes = nullptr);

// Where the settings live, for messages: the settings file (POSIX) or the registry
// key (Windows), printable.
std::string SettingsPlace();

// The database a connection string names, for messages: the file of the embedded
// driver, else the masked connection string in parentheses; printable and cut.
std::string DatabaseName(const std::string& connectionString);

// What `show` prints: one line per value, the connection string with its password
// masked. A value that cannot be shown (one that does not decrypt, a value of the
// wrong type) gets a note in its line and a description in `problems`; the stored
// text itself is never printed.
struct TSettingsReport {
  std::vector<std::string> lines;
  std::vector<std::string> problems;
};
TSettingsReport DescribeSettings();

}  // namespace qar::tools
