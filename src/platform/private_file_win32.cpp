#include "platform/private_file.h"
#include "platform/private_file_win32.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <stdexcept>
#include <vector>

#include "platform/module.h"
#include "platform/text.h"
#include "platform/unique_handle_win32.h"

namespace qar::platform {

namespace {

std::runtime_error Failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " " + path + " (error " + std::to_string(GetLastError()) + ")");
}

template <typename T>
struct TLocalFree {
  T pointer = nullptr;
  ~TLocalFree() {
    if (pointer != nullptr) LocalFree(reinterpret_cast<HLOCAL>(pointer));
  }
};

// This process's user, as a copy of the token's security identifier.
std::vector<unsigned char> CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const UniqueHandle token(raw, nullptr);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  std::vector<unsigned char> copy(GetLengthSid(sid));
  CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid);
  return copy;
}

std::string AccountName(PSID sid) {
  char name[256], domain[256];
  DWORD nameLength = sizeof name, domainLength = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
    return domainLength > 0 ? std::string(domain) + "\\" + name : std::string(name);
  TLocalFree<char*> text;
  return ConvertSidToStringSidA(sid, &text.pointer) ? std::string(text.pointer) : std::string("an unknown account");
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

// This user's security identifier as text ("S-1-5-21-...").
std::string CurrentUserSidText(const std::string& path) {
  std::vector<unsigned char> user = CurrentUserSid();
  TLocalFree<char*> sidText;
  if (user.empty() || !ConvertSidToStringSidA(user.data(), &sidText.pointer))
    throw Failure("cannot name this user for", path);
  return sidText.pointer;
}

// Makes the file `path` new (CREATE_NEW: never an existing file, nor through a link
// that someone placed) with the security descriptor `sddl`, and writes `text` into it.
void WriteNewFile(const std::u16string& path, const std::string& shownPath, const std::string& sddl,
                  const std::string& text) {
  TLocalFree<PSECURITY_DESCRIPTOR> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor.pointer, nullptr))
    throw Failure("cannot describe the access of", shownPath);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.pointer, FALSE};
  const UniqueHandle file(CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                          INVALID_HANDLE_VALUE);
  if (!file.Valid()) throw Failure("cannot create", shownPath);
  DWORD written = 0;
  if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size() ||
      !FlushFileBuffers(file.Get()))
    throw Failure("cannot write", shownPath);
}

}  // namespace

std::string ServiceSecretSddl(const std::string& userSid) {
  // The owner named, as an administrator's new files would otherwise belong to the
  // administrators: the service then reads a file whose owner it may trust.
  return "O:" + userSid + "D:P(A;;FA;;;" + userSid + ")(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;NS)";
}

PSID OtherAccountAllowed(PACL dacl, PSID owner, PSID reader) {
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    const bool reaches = (allowed->Mask & (FILE_READ_DATA | FILE_WRITE_DATA | GENERIC_READ | GENERIC_WRITE | GENERIC_ALL)) != 0;
    const bool writes =
        (allowed->Mask & (FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL | WRITE_DAC | WRITE_OWNER)) != 0;
    // NETWORK SERVICE, the account of the page's service, may read its token.
    const bool trusted = (owner != nullptr && EqualSid(sid, owner)) || (reader != nullptr && EqualSid(sid, reader)) ||
                         IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
                         IsWellKnown(sid, WinCreatorOwnerSid) || (IsWellKnown(sid, WinNetworkServiceSid) && !writes);
    if (reaches && !trusted) return sid;
  }
  return nullptr;
}

std::string WritePrivateFile(const std::string& name, const std::string& text) {
  const std::string path = TempDirectory() + name;
  // A protected access list with one entry: this user, full access.
  const std::string sddl = "D:P(A;;FA;;;" + CurrentUserSidText(path) + ")";
  DeleteFileA(path.c_str());
  WriteNewFile(AnsiToUtf16(path), path, sddl, text);
  return path;
}

bool CreatePrivateFile(const std::string& ansiPath, const std::string& text, bool replace) {
  const std::u16string path = AnsiToUtf16(ansiPath);
  const std::u16string part = path + AnsiToUtf16("." + std::to_string(GetCurrentProcessId()) + ".tmp");
  const auto wide = [](const std::u16string& s) { return reinterpret_cast<LPCWSTR>(s.c_str()); };
  try {
    WriteNewFile(part, "a file beside " + ansiPath, ServiceSecretSddl(CurrentUserSidText(ansiPath)), text);
  } catch (...) {
    DeleteFileW(wide(part));
    throw;
  }
  // The move keeps the new file's access list, also over a file it replaces.
  if (MoveFileExW(wide(part), wide(path), MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0))) return true;
  const DWORD error = GetLastError();
  DeleteFileW(wide(part));
  if (!replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return false;
  SetLastError(error);
  throw Failure("cannot put in place", ansiPath);
}

std::string ReadPrivateFile(const std::string& ansiPath, std::size_t maxBytes) {
  const UniqueHandle file(CreateFileA(ansiPath.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr),
                          INVALID_HANDLE_VALUE);
  if (!file.Valid()) throw Failure("cannot open", ansiPath);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  TLocalFree<PSECURITY_DESCRIPTOR> descriptor;
  if (GetSecurityInfo(file.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor.pointer) != ERROR_SUCCESS)
    throw Failure("cannot examine the access of", ansiPath);
  if (dacl == nullptr) throw std::runtime_error(ansiPath + " may be read by everyone (it has no access list): make it yours alone");
  std::vector<unsigned char> user = CurrentUserSid();
  if (const PSID other = OtherAccountAllowed(dacl, owner, user.empty() ? nullptr : user.data()))
    throw std::runtime_error(ansiPath + " may be read or written by " + AccountName(other) +
                             ": make it yours alone (icacls FILE /inheritance:r /grant:r %USERNAME%:F)");
  std::string text(maxBytes, '\0');
  DWORD got = 0;
  if (!ReadFile(file.Get(), text.data(), static_cast<DWORD>(maxBytes), &got, nullptr)) throw Failure("cannot read", ansiPath);
  text.resize(got);
  return text;
}

}  // namespace qar::platform
