#include "agent/state_publisher.h"

#include <filesystem>
#include <system_error>

#include "platform/module.h"

namespace qar::agent {

TStatePublisher::TStatePublisher(std::string path, state::TAgentRecord self, platform::Clock& clock,
                                 std::function<void(const std::string&)> report, std::string logDirectory)
    : path_(std::move(path)),
      self_(std::move(self)),
      clock_(clock),
      report_(std::move(report)),
      logDirectory_(std::move(logDirectory)) {}

void TStatePublisher::Supervising(const std::string& request, std::uint32_t workerPid) {
  self_.request = request;
  self_.requestSince = request.empty() ? 0 : clock_.NowUtc();
  self_.workerPid = request.empty() ? 0 : workerPid;
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
  if (queued_.size() >= kMaxQueuedRuns) queued_.erase(queued_.begin());
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
  const platform::TUtcDateTime now = clock_.NowUtc();
  if (!changed_ && queued_.empty() && (now - lastWrite_) * 86400.0 < kRefreshSeconds) return;
  if (!Open()) return;
  const platform::TSteadyStamp steady = clock_.Steady();
  self_.lastPoll = now;
  self_.pollSteady = steady.boot.empty() ? std::nullopt : std::optional<double>(steady.seconds);
  self_.boot = steady.boot;
  try {
    if (changed_ || !queued_.empty() || !counters_.empty() || !store_->Touch(self_.instance, now, steady))
      store_->Write({self_, queued_, counters_});
    queued_.clear();
    counters_.clear();
    reported_ = false;
    changed_ = false;
    lastWrite_ = now;
    if (self_.lastPoll - lastCleanup_ >= 1.0) RemoveOld();
  } catch (const std::exception& error) {
    Failed(error.what());
  }
}

void TStatePublisher::RemoveOld() {
  lastCleanup_ = self_.lastPoll;
  const platform::TUtcDateTime before = self_.lastPoll - state::kRunsKeptDays;
  store_->RemoveRunsBefore(before);
  if (logDirectory_.empty()) return;
  // The runs' output files, kept as long as the runs.
  std::error_code error;
  const auto limit = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * state::kRunsKeptDays);
  for (std::filesystem::directory_iterator it(platform::ToNativePath(logDirectory_), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = platform::FromNativePath(it->path().filename());
    if (!name.starts_with("QarTab_") || !name.ends_with(".log")) continue;
    std::error_code ignored;
    if (it->last_write_time(ignored) < limit && !ignored) std::filesystem::remove(it->path(), ignored);
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
