// The status model: every agent of an installation, the workers left without one, the queue and each request's runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "state/control_requests.h"
#include "state/state_store.h"

namespace qar {
class TADOConnection;
}

namespace qar::state {

// One agent of the installation as `status` shows it.
struct TAgentView {
  TAgentRecord record;
  bool running = false;     // its process still runs (AgentProcessRuns)
  bool responding = false;  // running and polled within kNotRespondingSeconds
  // The user whose agent started the worker it supervises (an adopted one's may differ
  // from its own); empty: none, or not known.
  std::string workerStarter;
};

// A worker that still runs after the agent that supervised it ended.
struct TLeftWorker {
  std::string request;
  std::uint32_t pid = 0;  // 0: not known
  platform::TUtcDateTime since = 0;
  std::uint32_t agentPid = 0;
  std::string agentUser;
};

// The control table's requests by what became of them: the pending rows the agents
// can start, those they never will, those whose worker runs, and today's others.
struct TQueueCounts {
  std::int64_t pendingToday = 0;  // "P", inserted today, no worker runs for it
  std::int64_t expired = 0;       // "P" from an earlier day, no worker runs for it
  std::int64_t running = 0;       // "P" and its worker runs, whatever its day
  // Today's rows that left "P". Cancelled: a cancellation asked for (status C), or a
  // row the agent ended for one; failed: the other "NOK" rows; done: every other status.
  std::int64_t done = 0, failed = 0, cancelled = 0;
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
  std::optional<TRequestSummary> runs;  // none when it never ran (or its runs expired)
};

// This program's installation: the directory it runs from, where QarSnc.exe is.
std::string InstallationDirectory();

// The agents of the installation in `installationDir` as the state store shows
// them, and the workers left running after their agent ended. Never raises: a store
// that cannot be read is told in storeError. With `opened`, the store read stays open
// there for the caller's further reads (left empty when storeError is set).
TStatusReport ReadInstallationStatus(const std::string& installationDir, const TMoment& now,
                                     std::optional<TStateStore>* opened = nullptr);

// The requests whose worker an agent of the installation supervises now, or that a
// worker left running by an ended agent still works on (ids as decimal text).
std::vector<std::string> RunningRequests(const TStatusReport& status);

// The queue's counts, in one grouped query and one for `runningIds` (RunningRequests):
// a pending request whose worker runs is counted as running, not pending or expired.
// `QarCfg.exe status` and the status page both count with it. Raises ECommandError.
TQueueCounts CountQueue(TADOConnection& connection, const std::vector<std::string>& runningIds);

// The requests `list` shows with their runs: those inserted since `since` (none:
// today's and the expired pending ones), those of status `status` only when it is
// given ("running" selects the running ones). Raises ECommandError.
std::vector<TListedRequest> ListRequestsWithRuns(TADOConnection& connection, const TStatusReport& status,
                                                 std::optional<platform::TDateTime> since,
                                                 const std::string& onlyStatus);

}  // namespace qar::state
