// POSIX: the user's private runtime directory, where the user's locks, notes and tokens live.
#pragma once

#include <string>

namespace qar::platform {

// Opens $XDG_RUNTIME_DIR when it is an absolute directory of this user's that no one
// else may write, else "<temp>/qarsnc-<uid>", created 0700 and refused when it is a
// symbolic link or another user's. Returns the directory's descriptor (the caller
// closes it) and sets `path` when given; -1 with errno set when there is none.
int OpenUserRuntimeDir(std::string* path = nullptr);

}  // namespace qar::platform
