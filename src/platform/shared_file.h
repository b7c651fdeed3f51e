// A new file that the members of the installation's group share (the embedded database).
#pragma once

#include <string>

namespace qar::platform {

// Creates the empty file `ansiPath`, which must not exist, for the members of `group`.
// POSIX: mode 0660 whatever the umask, and the group `group` when that group exists
// (otherwise the one the directory gives). Windows: the rights the directory passes
// on. Returns what was made, for the administrator ("mode 0660, group qarsnc").
// Raises std::runtime_error naming the file and the system's reason.
std::string CreateGroupFile(const std::string& ansiPath, const std::string& group);

}  // namespace qar::platform
