// What the state store needs of the operating system: its file's place and mode, signal names.
#pragma once

#include <string>

namespace qar::state {

// Makes sure the store file can be created: POSIX creates the empty file with mode
// 0660 (whatever the umask), so the installation's group may read and write it;
// Windows creates its directory. An existing file is left as it is. Raises
// EDataError with the system's reason.
void PrepareStoreFile(const std::string& path);

bool StoreFileExists(const std::string& path);

// The file name the database driver is given. Windows under Wine: the host's name
// of the file, since the SQLite ODBC driver there is the host's; else `path`.
std::string StoreDriverPath(const std::string& path);

// "SIGKILL" for 9 and so on; empty where signals do not exist or the number is unknown.
std::string SignalName(int signal);

}  // namespace qar::state
