// The JSON forms of `QarCfg.exe status --json` and `list --json`, the same that the status page serves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/state_store.h"
#include "tools/control_requests.h"

namespace qar::tools {

// One agent of the installation as `status` shows it.
struct TAgentView {
  config::TAgentRecord record;
  bool running = false;     // its process still runs (AgentProcessRuns)
  bool responding = false;  // running and polled within kNotRespondingSeconds
};

// A worker that still runs after the agent that supervised it ended.
struct TLeftWorker {
  std::string request;
  std::uint32_t pid = 0;  // 0: not known
  platform::TDateTime since = 0;
  std::uint32_t agentPid = 0;
  std::string agentUser;
};

// The control table's queue: rows the agents can start, rows they never will, and
// the rows whose worker runs (not counted as pending).
struct TQueueCounts {
  std::int64_t pendingToday = 0;
  std::int64_t expired = 0;
  std::int64_t running = 0;
};

// What `status` reports about one installation.
struct TStatusReport {
  std::string installation;  // the installation's directory (where QarSnc.exe lives)
  std::string store;         // the state store's file
  std::string storeError;    // why the store could not be read; empty when it was
  bool storeMissing = false; // ... because there is none yet: no agent of it ever ran
  std::vector<TAgentView> agents;
  std::vector<TLeftWorker> leftWorkers;
  std::optional<TQueueCounts> queue;  // none when the control table could not be read
  std::string queueError;

  // An agent of this installation runs.
  bool AgentRuns() const;
};

// One request of `list` with its runs.
struct TListedRequest {
  TRequestRow row;
  bool running = false;  // a worker runs for it now: not pending
  std::optional<config::TRequestSummary> runs;  // none when it never ran (or its runs expired)
};

// The forms, version 1. Times are local "yyyy-mm-dd hh:nn:ss"; texts are UTF-8;
// a value not known is null. Fields are only ever added, never renamed or removed.
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
std::string StatusJson(const TStatusReport& report);
std::string ListJson(const std::vector<TListedRequest>& requests);
std::string RunJson(const config::TRunRecord& run);

// A JSON string literal of an ANSI text (converted to UTF-8, escaped).
std::string JsonString(std::string_view ansi);
// "yyyy-mm-dd hh:nn:ss" of a date-time; 0 (not known) gives an empty text.
std::string StateTime(platform::TDateTime value);

}  // namespace qar::tools
