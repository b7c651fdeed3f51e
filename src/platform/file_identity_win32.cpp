#include "platform/file_identity.h"

#include <windows.h>

#include "platform/text.h"

namespace qar::platform {

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  const std::u16string wide = AnsiToUtf16(path);
  // Opened for no access at all: the identity is readable while another program
  // holds the file, whatever it shares.
  HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(file, &info);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return TFileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace qar::platform
