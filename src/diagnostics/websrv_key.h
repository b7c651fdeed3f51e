// The registry key of the server settings, shared by the diagnostics and the configuration.
#pragma once

#include <string_view>

namespace qar::diagnostics {

// Under HKEY_LOCAL_MACHINE. Holds the connection string and the server settings (QarCfg's
// `set` takes them all).
inline constexpr std::string_view kWebSrvKey = "Software\\VALTIRA\\Sistemas Integrados Valtira\\WebSrv";

}  // namespace qar::diagnostics
