// HKEY_LOCAL_MACHINE: open keys, read and write string and integer values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qar::platform {

enum class RegStatus {
  kOk,
  kNotFound,      // key or value does not exist
  kWrongType,     // the value exists with another type
  kAccessDenied,  // the access asked for is refused
  kFailed,        // any other system or file failure
};

enum class RegAccess { kRead, kFull };

// One open key under HKEY_LOCAL_MACHINE. Key and value names are ANSI and, as on
// Windows, compared without regard to case.
//
// Windows: the real registry. POSIX: HKEY_LOCAL_MACHINE is one file in the
// Windows .reg export format, $QARSNC_HKLM or /etc/qarsnc/HKLM.reg; writes replace
// the file atomically, and a file the process may not write cannot be opened
// with full access (RegAccess::kFull), as a key the process may not write on Windows.
// A file that does not parse makes every call fail with kFailed (LastError names
// the line) and is never rewritten; a rewrite is parsed before it replaces the file,
// and keeps the file's encoding and line ends. Names and values are converted between ANSI
// and the file's Unicode at this interface; text of other programs that has no
// ANSI form is kept as it is on rewrite.
class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(RegistryKey&&) noexcept;
  RegistryKey& operator=(RegistryKey&&) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens `path` (such as "Software\\VALTIRA\\..."), creating it when `create` is set.
  // kNotFound: the key is missing and `create` is not set. kAccessDenied: the access
  // asked for (or the creation) is refused, even when the key exists.
  RegStatus Open(std::string_view path, bool create, RegAccess access = RegAccess::kFull);
  bool IsOpen() const;
  void Close();

  // An empty name is the key's default value. A string is REG_SZ or REG_EXPAND_SZ
  // (not expanded), an integer REG_DWORD; any other type gives kWrongType, a missing
  // value kNotFound. Writes on a key opened with kRead give kAccessDenied.
  // POSIX reads the file again on every call, so other processes' writes show at once.
  RegStatus ReadString(std::string_view name, std::string& value);
  RegStatus ReadInteger(std::string_view name, std::int32_t& value);
  RegStatus WriteString(std::string_view name, std::string_view value);
  RegStatus WriteInteger(std::string_view name, std::int32_t value);
  RegStatus DeleteValue(std::string_view name);

  // Describes the last failure of this key (the system's code and text).
  const std::string& LastError() const { return lastError_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string lastError_;
};

// Why the registry cannot hold `path` as a key path, `name` as a value name or
// `text` as a string value so that each reads back unchanged; empty when it can.
// Names are one line of printable text (no control character: the ANSI calls end a
// name at a NUL and the POSIX file keeps one name per line), a key name is at most
// 255 characters and a value name at most 16383, as on Windows; a text holds no NUL.
// Every call of RegistryKey refuses such an argument with kFailed and this reason
// in LastError(), before anything is read or written.
std::string KeyPathProblem(std::string_view path);
std::string ValueNameProblem(std::string_view name);
std::string TextValueProblem(std::string_view text);

// Deletes `path` under HKEY_LOCAL_MACHINE with every subkey and value (tests and
// the administrator's tool clean up with it). A missing key gives kNotFound; when
// `error` is given it receives the failure's description.
RegStatus DeleteRegistryKey(std::string_view path, std::string* error = nullptr);

// POSIX: the path of the file that holds HKEY_LOCAL_MACHINE, $QARSNC_HKLM when set,
// else /etc/qarsnc/HKLM.reg. Windows: empty.
std::string RegistryFilePath();

}  // namespace qar::platform
