// Files that only the user who runs this program may read, such as the status page's access token.
#pragma once

#include <cstddef>
#include <string>

namespace qar::platform {

// Writes `text` into the file `name` of the user's private runtime directory,
// replacing one of that name, readable and writable by this user alone, and returns
// its path. POSIX: $XDG_RUNTIME_DIR, else "<temp>/qarsnc-<uid>" (0700); the file 0600.
// Windows: the user's temporary directory; the file's access list names the user
// alone. Raises std::runtime_error naming the file and the system's reason.
std::string WritePrivateFile(const std::string& name, const std::string& text);

// Makes the file `ansiPath` hold `text` for a service that reads it as a secret (the
// page's access token): written into a new file beside it, then moved into place, so
// that the file appears whole or not at all. An existing file is kept, and false
// returned, unless `replace`. POSIX: mode 0600, this user's. Windows: owned by this
// user, with a protected access list: this user, the system and the administrators
// full, NETWORK SERVICE (the account of the page's service) read. ReadPrivateFile
// accepts it. Raises std::runtime_error naming the file and the system's reason.
bool CreatePrivateFile(const std::string& ansiPath, const std::string& text, bool replace);

// The first `maxBytes` bytes of the file `ansiPath`. Refused, as ssh refuses a key,
// when the file lets anyone but its owner read or write it, or belongs to another
// user: POSIX, any group or other permission bit, or an owner who is neither this
// user nor root; Windows, an allowing entry of its access list for anyone but its
// owner, this user, the system and the administrators, but for NETWORK SERVICE
// reading it (the page's service runs as that account, which the system's own
// services share). Raises std::runtime_error naming the file and saying what is
// wrong and how to mend it.
std::string ReadPrivateFile(const std::string& ansiPath, std::size_t maxBytes);

}  // namespace qar::platform
