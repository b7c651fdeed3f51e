// Windows: the installation's registry value lives in the test prefix's registry.
#include <windows.h>

#include <string>

#include "config/GeralQar.h"
#include "installation.h"
#include "platform/process.h"
#include "platform/text.h"

namespace qar::e2e {

void Installation::PrepareSystem() {}

void Installation::RestoreSystem() { RemoveConnectionString(); }

// Under Wine the SQLite ODBC driver is the host's: it opens the file by its host
// path, which Wine gives for any of its own paths.
std::string DriverFileName(const std::string& file) {
  if (!platform::RunningUnderWine()) return file;
  using UnixFileName = char*(CDECL*)(const WCHAR*);
  const auto toUnix = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix == nullptr) return file;
  const std::u16string wide = platform::AnsiToUtf16(file);
  char* unixName = toUnix(reinterpret_cast<const WCHAR*>(wide.c_str()));
  if (unixName == nullptr) return file;
  const std::string result = platform::Utf8ToAnsi(unixName);
  HeapFree(GetProcessHeap(), 0, unixName);
  return result;
}

}  // namespace qar::e2e
