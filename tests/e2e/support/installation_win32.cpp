// Windows: the installation's registry value lives in the test prefix's registry.
#include <windows.h>

#include <memory>

#include "installation.h"
#include "platform/text.h"

namespace qar::e2e {

void Installation::PrepareSystem() {}

void Installation::RestoreSystem() { RemoveStringConex(); }

// Under Wine the SQLite ODBC driver is the host's: it opens the file by its host
// path, which Wine gives for any of its own paths.
std::string SqliteConnectionString(const std::string& databaseFile) {
  const auto toUnix = reinterpret_cast<char*(CDECL*)(const WCHAR*)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return "Provider=SQLite;Data Source=" + databaseFile;
  const std::unique_ptr<char, void (*)(char*)> unixName(
      toUnix(reinterpret_cast<const WCHAR*>(platform::AnsiToUtf16(databaseFile).c_str())),
      [](char* name) { HeapFree(GetProcessHeap(), 0, name); });
  return "Provider=SQLite;Data Source=" + platform::Utf8ToAnsi(unixName.get());
}

}  // namespace qar::e2e
