#include "platform/file_identity.h"

#include <windows.h>

#include <vector>

#include "platform/process.h"
#include "platform/text.h"
#include "platform/unique_handle_win32.h"

namespace qar::platform {

namespace {

bool UnderWine() {
  static const bool underWine = RunningUnderWine();
  return underWine;
}

// Shared every way: the identity is readable while another program holds the file.
UniqueHandle OpenShared(const std::u16string& path, DWORD access) {
  return UniqueHandle(CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), access,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                      INVALID_HANDLE_VALUE);
}

// Under Wine a SQLite file is locked by the host's driver with the host's record
// locks, and closing any other descriptor this process has on that file drops them
// all: the file itself is never opened here. Its directory is, and the file is found
// among the directory's entries, with the same file index.
std::optional<TFileIdentity> IdentityFromDirectory(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  if (slash == std::u16string::npos || slash + 1 == path.size()) return std::nullopt;
  const std::u16string name = path.substr(slash + 1);
  const std::u16string dirPath = slash == 0 || path[slash - 1] == u':' ? path.substr(0, slash + 1) : path.substr(0, slash);
  const UniqueHandle dir = OpenShared(dirPath, FILE_LIST_DIRECTORY);
  BY_HANDLE_FILE_INFORMATION dirInfo{};
  if (!dir.Valid() || !GetFileInformationByHandle(dir.Get(), &dirInfo)) return std::nullopt;
  std::vector<std::uint64_t> buffer(8192);  // 64 KiB, aligned for the entries
  FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(dir.Get(), query, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(buffer[0])))) {
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
  if (UnderWine()) return IdentityFromDirectory(wide);
  const UniqueHandle file = OpenShared(wide, 0);  // no access at all: only its identity is read
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.Valid() || !GetFileInformationByHandle(file.Get(), &info)) return std::nullopt;
  return TFileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool OpenFilesCanBeReplaced() { return UnderWine(); }

}  // namespace qar::platform
