// Process environment variables (ANSI names and values).
#pragma once

#include <optional>
#include <string>

namespace qar::platform {

std::optional<std::string> GetEnv(const std::string& name);
// Sets (or, with an empty value on Windows, removes) a variable of this process;
// programs it starts afterwards inherit it.
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

}  // namespace qar::platform
