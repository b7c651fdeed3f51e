// Windows environment access through the process environment block.
#include <windows.h>

#include "platform/environment.h"

namespace qar::platform {

std::optional<std::string> GetEnv(const std::string& name) {
  const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::string value(needed, '\0');
  const DWORD n = GetEnvironmentVariableA(name.c_str(), value.data(), needed);
  value.resize(n);
  return value;
}

void SetEnv(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string& name) { SetEnvironmentVariableA(name.c_str(), nullptr); }

}  // namespace qar::platform
