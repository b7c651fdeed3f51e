#include "platform/file_identity.h"

#include <windows.h>

#include <vector>

#include "platform/process.h"
#include "platform/text.h"

namespace qar::platform {

namespace {

struct HandleCloser {
  HANDLE handle;
  ~HandleCloser() { CloseHandle(handle); }
};

// Under Wine a SQLite file is locked by the host's driver with the host's record
// locks, and closing any other descriptor this process has on that file drops them
// all: the file itself is never opened here. Its directory is, and the file is found
// among the directory's entries, with the same file index.
std::optional<TFileIdentity> IdentityFromDirectory(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string::npos || slash + 1 == path.size()) return std::nullopt;
  const std::u16string name = path.substr(slash + 1);
  const std::u16string dirPath = slash == 0 || path[slash - 1] == u':' ? path.substr(0, slash + 1) : path.substr(0, slash);
  HANDLE dir = CreateFileW(reinterpret_cast<LPCWSTR>(dirPath.c_str()), FILE_LIST_DIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return std::nullopt;
  const HandleCloser closer{dir};
  BY_HANDLE_FILE_INFORMATION dirInfo{};
  if (!GetFileInformationByHandle(dir, &dirInfo)) return std::nullopt;
  std::vector<std::uint64_t> buffer(8192);  // 64 KiB, aligned for the entries
  FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(dir, query, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(buffer[0])))) {
    query = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    for (;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      if (CompareStringOrdinal(entry->FileName, static_cast<int>(entry->FileNameLength / sizeof(WCHAR)),
                               reinterpret_cast<LPCWCH>(name.c_str()), static_cast<int>(name.size()),
                               TRUE) == CSTR_EQUAL) {
        return TFileIdentity{dirInfo.dwVolumeSerialNumber, static_cast<std::uint64_t>(entry->FileId.QuadPart)};
      }
      if (entry->NextEntryOffset == 0) break;
      bytes += entry->NextEntryOffset;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<TFileIdentity> FileIdentity(const std::string& path) {
  const std::u16string wide = AnsiToUtf16(path);
  static const bool underWine = RunningUnderWine();
  if (underWine) return IdentityFromDirectory(wide);
  // Opened for no access at all: the identity is readable while another program
  // holds the file, whatever it shares.
  HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  const HandleCloser closer{file};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return TFileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool OpenFilesCanBeReplaced() {
  static const bool underWine = RunningUnderWine();
  return underWine;
}

}  // namespace qar::platform
