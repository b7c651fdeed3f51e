// TStatePublisher: the agent's row and its runs, written to the installation's state store once a poll.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "state/state_store.h"

namespace qar::agent {

// Collects what the agent does and writes it to the store at a poll, in one
// transaction: at once when a run started or ended or what the agent supervises or
// its last error changed, else every kRefreshSeconds (well within the reader's
// kNotRespondingSeconds). The store never holds the agent up: a write waits at most a moment
// for a reader, and a store that cannot be opened or written is reported once (and
// again only after it worked in between); the agent goes on, and the runs not yet
// written are kept (the last kMaxQueuedRuns) for the next write.
//
//   TStatePublisher state(state::StateStorePath(), self, clock, ReportError);
//   services.recordRun = [&](const state::TRunRecord& run) { state.Run(run); };
//   services.polled = [&] { state.Polled(); };
class TStatePublisher {
 public:
  static constexpr std::size_t kMaxQueuedRuns = 1000;
  static constexpr double kRefreshSeconds = 10;

  // `logDirectory` (ending with a separator; empty: none) holds the runs' output
  // files, removed with the runs after state::kRunsKeptDays.
  TStatePublisher(std::string path, state::TAgentRecord self, platform::Clock& clock,
                  std::function<void(const std::string&)> report, std::string logDirectory = {});

  void Supervising(const std::string& request, std::uint32_t workerPid);
  void Error(const std::string& message);
  // A run at its start or its end, and what its end adds to the counters: written
  // together, in one transaction. Counters are never dropped, however many runs wait.
  void Run(const state::TRunRecord& run, const state::TCounterDeltas& counters = {});
  // Writes the agent's row (its last poll now) and the queued runs.
  void Polled();
  // The agent ends: its row goes (its runs stay).
  void Ended();

  const state::TAgentRecord& Self() const { return self_; }

 private:
  bool Open();
  void Failed(const std::string& what);
  void RemoveOld();

  std::string path_;
  state::TAgentRecord self_;
  platform::Clock& clock_;
  std::function<void(const std::string&)> report_;
  std::string logDirectory_;
  std::optional<state::TStateStore> store_;
  std::vector<state::TRunRecord> queued_;
  state::TCounterDeltas counters_;
  bool reported_ = false;
  bool changed_ = true;               // something to tell since the last write
  platform::TUtcDateTime lastWrite_ = 0;
  platform::TUtcDateTime lastCleanup_ = 0;
};

}  // namespace qar::agent
