// Replacing a file's content at once: readers see the old file or the new one, never half of it.
#pragma once

#include <string>

namespace qar::platform {

// Writes `text` into a new file beside `ansiPath` ("<name>.<pid>.tmp", created
// exclusively, never through a link), then renames it over `ansiPath`. The new file
// is readable by everyone the umask allows (POSIX: 0644 at most; Windows: the
// directory's inherited rights), as collectors running as another user need.
// Raises std::runtime_error naming the file and the system's reason; the temporary
// file is removed on failure.
void ReplaceFileContent(const std::string& ansiPath, const std::string& text);

}  // namespace qar::platform
