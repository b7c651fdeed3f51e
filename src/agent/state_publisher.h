// TStatePublisher: the agent's row and its runs, written to the installation's state store once a poll.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "state/state_store.h"

namespace qar::agent {

// Collects what the agent does and writes it to the store at a poll, in one
// transaction: at once when a run started or ended or what the agent supervises,
// its role or its last error changed, else every kRefreshSeconds (well within the
// reader's kNotRespondingSeconds). The store never holds the agent up: a write waits
// at most a moment for a reader, and a store that cannot be opened or written is
// reported once (and again only after it worked in between); the agent goes on, and
// the runs not yet written are kept (the last kMaxQueuedRuns; dropping older ones is
// logged) for the next write. Its intervals run on the clock's steady reading.
//
// It also keeps the store true about others: about once a minute (and when asked for
// the runs ended agents left) an agent whose process is gone gets its row marked
// ended, and rows ended more than a day ago go. Once a day the runs older than
// state::kRunsKeptDays go, with the output files they name that follow the naming
// rule in the installation's output directory (and no other file).
//
//   TStatePublisher state(state::StateStorePath(), self, clock, ReportError);
//   services.recordRun = [&](const state::TRunRecord& run) { state.Run(run); };
//   services.polled = [&] { state.Polled(); };
class TStatePublisher {
 public:
  static constexpr std::size_t kMaxQueuedRuns = 1000;
  static constexpr double kRefreshSeconds = 10;

  // `outputDirectory` (state::WorkerOutputDirectory; empty: none) holds the runs'
  // output files.
  TStatePublisher(std::string path, state::TAgentRecord self, platform::Clock& clock,
                  std::function<void(const std::string&)> report, std::string outputDirectory = {});

  void Supervising(const std::string& request, std::uint32_t workerPid);
  void Role(state::TAgentRole role);
  void Error(const std::string& message);
  // A run at its start or its end, and what its end adds to the counters: written
  // together, in one transaction. Counters are never dropped, however many runs wait.
  void Run(const state::TRunRecord& run, const state::TCounterDeltas& counters = {});
  // Writes the agent's row (its last poll now) and the queued runs.
  void Polled();
  // The agent ends: its row goes (its runs stay).
  void Ended();

  // The runs of this installation (agents of the directory of Self().exe) still
  // recorded as running whose agents' processes are gone; what was queued is written
  // first. Empty when the store cannot be read.
  std::vector<state::TRunRecord> OrphanedRuns();
  // How many runs of `request` ended with its row still "P", with those queued; none
  // when the store cannot be read.
  std::optional<std::int64_t> RunsLeftPending(std::int64_t request);

  const state::TAgentRecord& Self() const { return self_; }

 private:
  bool Open();
  void Failed(const std::string& what);
  // Marks the agents whose process is gone as ended; the instances of those still there.
  std::set<std::string> MarkGoneAgents(platform::TUtcDateTime now);
  void RemoveOld();
  std::chrono::milliseconds Elapsed() const { return clock_.Elapsed(); }

  std::string path_;
  state::TAgentRecord self_;
  platform::Clock& clock_;
  std::function<void(const std::string&)> report_;
  std::string outputDirectory_;
  std::optional<state::TStateStore> store_;
  std::vector<state::TRunRecord> queued_;
  state::TCounterDeltas counters_;
  std::size_t dropped_ = 0;           // queued runs dropped since the last write
  bool reported_ = false;
  bool changed_ = true;               // something to tell since the last write
  std::optional<std::chrono::milliseconds> lastWrite_, lastCheck_, lastCleanup_;
};

}  // namespace qar::agent
