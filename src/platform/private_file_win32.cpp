#include "platform/private_file.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <stdexcept>
#include <vector>

#include "platform/module.h"
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

}  // namespace

std::string WritePrivateFile(const std::string& name, const std::string& text) {
  const std::string path = TempDirectory() + name;
  std::vector<unsigned char> user = CurrentUserSid();
  TLocalFree<char*> sidText;
  if (user.empty() || !ConvertSidToStringSidA(user.data(), &sidText.pointer))
    throw Failure("cannot name this user for", path);
  // A protected access list with one entry: this user, full access.
  const std::string sddl = std::string("D:P(A;;FA;;;") + sidText.pointer + ")";
  TLocalFree<PSECURITY_DESCRIPTOR> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor.pointer, nullptr))
    throw Failure("cannot describe the access of", path);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.pointer, FALSE};
  DeleteFileA(path.c_str());
  const UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr),
                          INVALID_HANDLE_VALUE);
  if (!file.Valid()) throw Failure("cannot create", path);
  DWORD written = 0;
  if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size())
    throw Failure("cannot write", path);
  return path;
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
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry) || static_cast<ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    const bool reaches = (allowed->Mask & (FILE_READ_DATA | FILE_WRITE_DATA | GENERIC_READ | GENERIC_WRITE | GENERIC_ALL)) != 0;
    const bool trusted = (owner != nullptr && EqualSid(sid, owner)) || (!user.empty() && EqualSid(sid, user.data())) ||
                         IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
                         IsWellKnown(sid, WinCreatorOwnerSid);
    if (reaches && !trusted)
      throw std::runtime_error(ansiPath + " may be read or written by " + AccountName(sid) +
                               ": make it yours alone (icacls FILE /inheritance:r /grant:r %USERNAME%:F)");
  }
  std::string text(maxBytes, '\0');
  DWORD got = 0;
  if (!ReadFile(file.Get(), text.data(), static_cast<DWORD>(maxBytes), &got, nullptr)) throw Failure("cannot read", ansiPath);
  text.resize(got);
  return text;
}

}  // namespace qar::platform
