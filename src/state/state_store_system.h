// What the state store needs of the operating system: its file's place and mode.
#pragma once

#include <string>

namespace qar::state {

// Makes sure the store file can be created: POSIX creates the empty file with mode
// 0660 (whatever the umask), so the installation's group may read and write it;
// Windows creates its directory. An existing file is left as it is. Raises
// EDataError with the system's reason.
void PrepareStoreFile(const std::string& path);

bool StoreFileExists(const std::string& path);

}  // namespace qar::state
