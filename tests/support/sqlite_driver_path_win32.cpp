// Windows: under Wine, the host's name of a file, which the host's SQLite ODBC driver opens.
#include <windows.h>

#include <memory>

#include "platform/text.h"
#include "scratch_database.h"

namespace qar::testing {

std::string SqliteDriverPath(const std::string& file) {
  using ToUnix = char*(CDECL*)(const WCHAR*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return file;  // real Windows: its own driver reads its own paths
  const std::unique_ptr<char, void (*)(char*)> unixName(
      toUnix(reinterpret_cast<const WCHAR*>(platform::AnsiToUtf16(file).c_str())),
      [](char* name) { HeapFree(GetProcessHeap(), 0, name); });
  return unixName ? platform::Utf8ToAnsi(unixName.get()) : file;
}

}  // namespace qar::testing
