// Connection strings as the agent and QarCfg show them: every password hidden behind one fixed mask.
#pragma once

#include <string>

namespace qar::diagnostics {

// What a masked password shows, whatever its length.
inline constexpr const char* kPasswordMask = "********";

// The connection string as the agent logs it and QarCfg prints it: what the logs mask and, beyond that, the
// whole value of every password key as the drivers read it (also when the key has a
// blank before "=" or the value is quoted or braced and holds ";"), each replaced by
// kPasswordMask.
std::string MaskConnectionString(const std::string& connectionString);

}  // namespace qar::diagnostics
