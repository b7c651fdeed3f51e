// The diagnostics switches and the log directory, read from the registry once and cached.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/session_pool.h"

namespace qar::diagnostics {

// The process-wide record MonitorSettings behind these questions holds four fields,
// each read from the WebSrv key the first time it is needed and kept for the life of
// the process. A field that still holds its "not read yet" marker after a read (a
// registry integer whose low byte is 0xFF, an operator list reading "LOADREG", an
// empty directory) is read again at the next request.
//
// First reads of a field are serialised, so a thread asking while another thread is
// reading waits for the real answer instead of a provisional one; once a field is
// read, asking takes no lock. No question ever raises: a registry failure gives the
// fallback value (switches off, every operator selected, the temporary directory).

// True when TunningID is 1: sessions are registered for tuning.
bool IsTunningOn();
// True when SqlMonitor is 1 to 127.
bool IsSqlMonitorOn();
// The cached SqlMonitor value; -1 while nobody has asked IsSqlMonitorOn.
std::int32_t SqlMonitorLevel();
// True when the monitor is on and the operator is selected by SqlMonUser: an empty
// list selects everybody, otherwise the (non-empty) operator must occur in the list.
bool IsMonitoredUser(std::string_view operatorName);
// The log directory, ending with a separator; empty when the request failed.
std::string GetTmpFileDir();

// The session pool's settings, read from the WebSrv key at each request (the pool
// asks once). Missing or out of range values give the defaults:
//   ConnectionPooling    0 off, 1 on (default 1)
//   PoolMaxIdleSessions  idle sessions kept per connection string, 1 to 64 (default 8)
//   PoolIdleTimeout      seconds an idle session is kept, 1 to 3600 (default 60)
TSessionPoolSettings SessionPoolSettings();

// Forgets every cached setting, as at process start. Only for tests, and only while
// no other thread asks.
void ResetMonitorSettingsForTest();

}  // namespace qar::diagnostics
