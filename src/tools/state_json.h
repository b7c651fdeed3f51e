// The JSON forms of `QarCfg.exe status --json` and `list --json`, the same that the status page serves.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "state/status_report.h"

namespace qar::tools {

// The forms, version 1. Times are local "yyyy-mm-dd hh:nn:ss"; texts are UTF-8;
// a value not known is null; passwords in free texts (errors, notes, operations) are
// masked as the connection log masks them. Fields are only ever added, never renamed
// or removed.
//
// status:
//   {"version":1,"installation":"...","store":"...","storeError":null,"running":true,
//    "agents":[{"pid":1,"user":"...","exe":"...","started":"...","lastPoll":"...",
//               "pollAgeSeconds":1.5,"running":true,"responding":true,
//               "lastError":null|{"text":"...","at":"..."},
//               "request":null|{"id":"17","since":"...","workerPid":2|null}}],
//    "leftWorkers":[{"request":"17","pid":2|null,"since":"...","agentPid":1,"agentUser":"..."}],
//    "queue":null|{"pendingToday":0,"expired":0,"running":0},"queueError":null|"..."}
// list:
//   {"version":1,"requests":[{"id":"17","status":"P","running":false,"expired":false,
//     "operation":"...","inserted":"...","error":"...","runs":0,"totalSeconds":0,
//     "lastRun":null|<run>}]}
// a run (also RunJson):
//   {"started":"...","ended":null|"...","outcome":"running|exit|signal|unknown|not-started",
//    "code":null|0,"description":"exit 3","leftPending":null|true,"durationSeconds":1.0,
//    "output":null|"<file>","note":null|"...","agentPid":1,"agentUser":"...","workerPid":null|2}
std::string StatusJson(const state::TStatusReport& report);
std::string ListJson(const std::vector<state::TListedRequest>& requests);
std::string RunJson(const state::TRunRecord& run);

// A JSON string literal of an ANSI text (converted to UTF-8, escaped).
std::string JsonString(std::string_view ansi);
// "yyyy-mm-dd hh:nn:ss", local, of a UTC date-time; 0 (not known) and a value that is
// no date give an empty text.
std::string StateTime(platform::TUtcDateTime value);

}  // namespace qar::tools
