// Windows: HKEY_LOCAL_MACHINE through the registry API (ANSI calls, as the system's text is ANSI).
#include <windows.h>

#include <cstring>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace qar::platform {

namespace {

std::string SystemMessage(LONG code) {
  char buffer[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  return std::string(buffer, length);
}

RegStatus StatusOf(LONG code) {
  switch (code) {
    case ERROR_SUCCESS:
      return RegStatus::kOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return RegStatus::kNotFound;
    case ERROR_ACCESS_DENIED:
      return RegStatus::kAccessDenied;
    default:
      return RegStatus::kFailed;
  }
}

// Maps the code and, on failure, records "what: code text".
RegStatus Check(LONG code, std::string& error, const std::string& what) {
  const RegStatus status = StatusOf(code);
  if (status != RegStatus::kOk) {
    error = what + ": error " + std::to_string(code) + " " + SystemMessage(code);
  }
  return status;
}

}  // namespace

struct RegistryKey::Impl {
  HKEY key = nullptr;
  std::string path;  // for messages

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  ~Impl() {
    if (key) RegCloseKey(key);
  }

  std::string Describe(const char* call, std::string_view name = {}) const {
    std::string text = std::string(call) + " HKEY_LOCAL_MACHINE\\" + path;
    if (!name.empty()) text += " \"" + std::string(name) + "\"";
    return text;
  }

  // The value's type and size; kNotFound when it is missing.
  RegStatus Query(const std::string& name, DWORD& type, std::vector<BYTE>& data,
                  std::string& error) const {
    DWORD size = 0;
    LONG code = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    for (;;) {
      if (code != ERROR_SUCCESS) return Check(code, error, Describe("RegQueryValueExA", name));
      data.resize(size);
      code = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
      if (code == ERROR_MORE_DATA) continue;  // it grew in between
      if (code == ERROR_SUCCESS) data.resize(size);
      else return Check(code, error, Describe("RegQueryValueExA", name));
      return RegStatus::kOk;
    }
  }
};

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

RegStatus RegistryKey::Open(std::string_view path, bool create, RegAccess access) {
  Close();
  lastError_.clear();
  auto impl = std::make_unique<Impl>();
  impl->path = std::string(path);
  if (std::string problem = KeyPathProblem(path); !problem.empty()) {
    lastError_ = problem;
    return RegStatus::kFailed;
  }
  const REGSAM sam = access == RegAccess::kFull ? KEY_ALL_ACCESS : KEY_READ;
  LONG code;
  if (create) {
    code = RegCreateKeyExA(HKEY_LOCAL_MACHINE, impl->path.c_str(), 0, nullptr,
                           REG_OPTION_NON_VOLATILE, sam, nullptr, &impl->key, nullptr);
  } else {
    code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, impl->path.c_str(), 0, sam, &impl->key);
  }
  if (code != ERROR_SUCCESS) {
    impl->key = nullptr;
    return Check(code, lastError_, impl->Describe(create ? "RegCreateKeyExA" : "RegOpenKeyExA"));
  }
  impl_ = std::move(impl);
  return RegStatus::kOk;
}

bool RegistryKey::IsOpen() const { return impl_ != nullptr; }

void RegistryKey::Close() { impl_.reset(); }

namespace {
RegStatus NotOpen(std::string& error) {
  error = "the key is not open";
  return RegStatus::kFailed;
}

// kOk, or kFailed with the reason the name (or the text) cannot be kept: the ANSI
// calls would end either at a NUL and act on another value.
RegStatus CheckArguments(std::string_view name, std::string& error, std::string_view text = {}) {
  std::string problem = ValueNameProblem(name);
  if (problem.empty()) problem = TextValueProblem(text);
  if (problem.empty()) return RegStatus::kOk;
  error = problem;
  return RegStatus::kFailed;
}
}  // namespace

RegStatus RegistryKey::ReadString(std::string_view name, std::string& value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  const std::string valueName(name);
  DWORD type = 0;
  std::vector<BYTE> data;
  if (RegStatus status = impl_->Query(valueName, type, data, lastError_); status != RegStatus::kOk) {
    return status;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    lastError_ = impl_->Describe("RegQueryValueExA", name) + ": not a string (type " +
                 std::to_string(type) + ")";
    return RegStatus::kWrongType;
  }
  // The stored size may or may not count the terminating NUL.
  std::size_t length = data.size();
  while (length > 0 && data[length - 1] == 0) --length;
  value.assign(reinterpret_cast<const char*>(data.data()), length);
  return RegStatus::kOk;
}

RegStatus RegistryKey::ReadInteger(std::string_view name, std::int32_t& value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  const std::string valueName(name);
  DWORD type = 0;
  std::vector<BYTE> data;
  if (RegStatus status = impl_->Query(valueName, type, data, lastError_); status != RegStatus::kOk) {
    return status;
  }
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) {
    lastError_ = impl_->Describe("RegQueryValueExA", name) + ": not a dword (type " +
                 std::to_string(type) + ")";
    return RegStatus::kWrongType;
  }
  DWORD number = 0;
  std::memcpy(&number, data.data(), sizeof number);
  value = static_cast<std::int32_t>(number);
  return RegStatus::kOk;
}

RegStatus RegistryKey::WriteString(std::string_view name, std::string_view value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_, value); status != RegStatus::kOk) return status;
  const std::string valueName(name);
  const std::string text(value);  // NUL-terminated copy; the size counts the NUL
  return Check(RegSetValueExA(impl_->key, valueName.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1)),
               lastError_, impl_->Describe("RegSetValueExA", name));
}

RegStatus RegistryKey::WriteInteger(std::string_view name, std::int32_t value) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  const std::string valueName(name);
  const DWORD number = static_cast<DWORD>(value);
  return Check(RegSetValueExA(impl_->key, valueName.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&number), sizeof number),
               lastError_, impl_->Describe("RegSetValueExA", name));
}

RegStatus RegistryKey::DeleteValue(std::string_view name) {
  if (!impl_) return NotOpen(lastError_);
  if (RegStatus status = CheckArguments(name, lastError_); status != RegStatus::kOk) return status;
  const std::string valueName(name);
  return Check(RegDeleteValueA(impl_->key, valueName.c_str()), lastError_,
               impl_->Describe("RegDeleteValueA", name));
}

RegStatus DeleteRegistryKey(std::string_view path, std::string* error) {
  std::string message;
  const std::string keyPath(path);
  RegStatus status;
  if (std::string problem = KeyPathProblem(path); !problem.empty()) {
    message = problem;
    status = RegStatus::kFailed;
  } else if (keyPath.empty()) {
    message = "cannot delete HKEY_LOCAL_MACHINE itself";
    status = RegStatus::kFailed;
  } else {
    // RegDeleteTreeA removes the key with everything below it.
    status = Check(RegDeleteTreeA(HKEY_LOCAL_MACHINE, keyPath.c_str()), message,
                   "RegDeleteTreeA HKEY_LOCAL_MACHINE\\" + keyPath);
  }
  if (error) *error = message;
  return status;
}

std::string RegistryFilePath() { return {}; }

}  // namespace qar::platform
