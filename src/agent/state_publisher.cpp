#include "agent/state_publisher.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "platform/module.h"
#include "state/worker_output.h"

namespace qar::agent {

namespace {
constexpr std::chrono::minutes kCheckEvery{1};
constexpr std::chrono::hours kCleanupEvery{24};
constexpr double kEndedRowsKeptDays = 1;
constexpr std::chrono::milliseconds kRefresh{static_cast<long long>(TStatePublisher::kRefreshSeconds * 1000)};

bool Due(const std::optional<std::chrono::milliseconds>& last, std::chrono::milliseconds now,
         std::chrono::milliseconds every) {
  return !last || now - *last >= every;
}
}  // namespace

TStatePublisher::TStatePublisher(std::string path, state::TAgentRecord self, platform::Clock& clock,
                                 std::function<void(const std::string&)> report, std::string outputDirectory)
    : path_(std::move(path)),
      self_(std::move(self)),
      clock_(clock),
      report_(std::move(report)),
      outputDirectory_(std::move(outputDirectory)) {}

void TStatePublisher::Supervising(const std::string& request, std::uint32_t workerPid) {
  self_.request = request;
  self_.requestSince = request.empty() ? 0 : clock_.NowUtc();
  self_.workerPid = request.empty() ? 0 : workerPid;
  changed_ = true;
}

void TStatePublisher::Role(state::TAgentRole role) {
  self_.role = role;
  changed_ = true;
}

void TStatePublisher::Error(const std::string& message) {
  self_.lastError = message;
  self_.lastErrorAt = clock_.NowUtc();
  changed_ = true;
}

void TStatePublisher::Run(const state::TRunRecord& run, const state::TCounterDeltas& counters) {
  for (const auto& [name, delta] : counters) counters_[name] += delta;
  // A run written again at its end replaces its start still queued.
  for (state::TRunRecord& queued : queued_) {
    if (queued.key == run.key) {
      queued = run;
      return;
    }
  }
  if (queued_.size() >= kMaxQueuedRuns) {
    queued_.erase(queued_.begin());
    if (++dropped_ == 1) {
      report_("the state store has not been written for " + std::to_string(kMaxQueuedRuns) +
              " runs: the records of the oldest ones are dropped from now on");
    }
  }
  queued_.push_back(run);
}

void TStatePublisher::Failed(const std::string& what) {
  store_.reset();  // opened afresh at the next poll
  if (reported_) return;
  reported_ = true;
  report_("the state store cannot be written (" + what + "); the agent goes on, QarCfg.exe status does not see it");
}

bool TStatePublisher::Open() {
  if (store_) return true;
  try {
    store_ = state::TStateStore::OpenForAgent(path_);
    return true;
  } catch (const std::exception& error) {
    Failed(error.what());
    return false;
  }
}

void TStatePublisher::Polled() {
  const std::chrono::milliseconds elapsed = Elapsed();
  if (!changed_ && queued_.empty() && !Due(lastWrite_, elapsed, kRefresh)) return;
  if (!Open()) return;
  const platform::TSteadyStamp steady = clock_.Steady();
  const platform::TUtcDateTime now = clock_.NowUtc();
  self_.lastPoll = now;
  self_.pollSteady = steady.boot.empty() ? std::nullopt : std::optional<double>(steady.seconds);
  self_.boot = steady.boot;
  try {
    if (changed_ || !queued_.empty() || !counters_.empty() || !store_->Touch(self_.instance, now, steady))
      store_->Write({self_, queued_, counters_});
    if (dropped_ > 0) {
      report_("the state store is written again; the records of " + std::to_string(dropped_) +
              " runs were dropped meanwhile");
      dropped_ = 0;
    }
    queued_.clear();
    counters_.clear();
    reported_ = false;
    changed_ = false;
    lastWrite_ = elapsed;
    if (Due(lastCheck_, elapsed, kCheckEvery)) MarkGoneAgents(now);
    if (Due(lastCleanup_, elapsed, kCleanupEvery)) RemoveOld();
  } catch (const std::exception& error) {
    Failed(error.what());
  }
}

std::set<std::string> TStatePublisher::MarkGoneAgents(platform::TUtcDateTime now) {
  lastCheck_ = Elapsed();
  std::set<std::string> present;
  for (const state::TAgentRecord& agent : store_->Agents(state::TMoment::Of(clock_))) {
    if (agent.ended != 0) continue;
    if (agent.instance == self_.instance || state::AgentProcessRuns(agent)) {
      present.insert(agent.instance);
    } else {
      store_->MarkAgentEnded(agent.instance, now);
    }
  }
  return present;
}

void TStatePublisher::RemoveOld() {
  lastCleanup_ = Elapsed();
  store_->RemoveAgentsEndedBefore(self_.lastPoll - kEndedRowsKeptDays);
  const platform::TUtcDateTime before = self_.lastPoll - state::kRunsKeptDays;
  // Only files that this installation's runs name, in its output directory, by the
  // rule: a name any group member could have written there is never taken as given.
  for (const auto& [request, output] : store_->OutputsOfRunsBefore(before)) {
    if (outputDirectory_.empty() || !state::IsWorkerOutputPath(output, outputDirectory_, request)) continue;
    std::error_code ignored;
    std::filesystem::remove(platform::ToNativePath(output), ignored);
  }
  store_->RemoveRunsBefore(before);
}

std::vector<state::TRunRecord> TStatePublisher::OrphanedRuns() {
  changed_ = true;
  Polled();
  std::vector<state::TRunRecord> orphans;
  if (!store_) return orphans;
  try {
    // An agent that ended on purpose removed its row before it freed the lock, while
    // its process may still be there.
    const std::set<std::string> present = MarkGoneAgents(clock_.NowUtc());
    const std::string installation = platform::ExtractFileDir(self_.exe);
    for (state::TRunRecord& run : store_->RunningRuns(200, state::TMoment::Of(clock_))) {
      if (run.agentInstance == self_.instance || platform::ExtractFileDir(run.agentExe) != installation ||
          (present.contains(run.agentInstance) && state::RunAgentRuns(run)))
        continue;
      orphans.push_back(std::move(run));
    }
  } catch (const std::exception& error) {
    Failed(error.what());
  }
  return orphans;
}

std::optional<std::int64_t> TStatePublisher::RunsLeftPending(std::int64_t request) {
  changed_ = true;
  Polled();
  if (!store_) return std::nullopt;
  try {
    std::int64_t count = store_->RunsLeftPending(request);
    // Queued only when the write failed: then none of them is in the store.
    for (const state::TRunRecord& run : queued_)
      if (run.request == request && run.leftPending == false) ++count;
    return count;
  } catch (const std::exception& error) {
    Failed(error.what());
    return std::nullopt;
  }
}

void TStatePublisher::Ended() {
  changed_ = true;
  Polled();  // the runs still queued
  if (!store_) return;
  try {
    store_->RemoveAgent(self_.instance);
  } catch (const std::exception& error) {
    report_("the agent's row stays in the state store: " + std::string(error.what()));
  }
}

}  // namespace qar::agent
