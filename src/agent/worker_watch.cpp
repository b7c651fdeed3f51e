#include "agent/worker_watch.h"

#include <map>
#include <unordered_map>

#include "platform/new_file.h"
#include "platform/random.h"
#include "state/worker_output.h"

namespace qar::agent {

std::string WorkerMarker(const std::string& agentDir) { return "QARSNC_INSTALLATION=" + agentDir; }
std::string WorkerRequestItem(const std::string& request) { return "QARSNC_REQUEST=" + request; }
std::string WorkerRunItem(const std::string& runKey) { return "QARSNC_RUN=" + runKey; }

TRunProcesses SelectRunProcesses(const std::vector<platform::TProcessEntry>& table, std::uint32_t pid,
                                 std::uint64_t start, std::uint32_t runMark) {
  TRunProcesses found;
  std::unordered_map<std::uint32_t, std::size_t> byPid;
  for (std::size_t i = 0; i < table.size(); ++i) byPid.emplace(table[i].pid, i);
  const auto worker = byPid.find(pid);
  found.workerRuns = start != 0 && worker != byPid.end() && table[worker->second].start == start;
  // A descendant by its parents: each link started no earlier than the worker, so
  // that a process that got a gone parent's id is not taken for it.
  const auto descends = [&](const platform::TProcessEntry& entry) {
    const platform::TProcessEntry* at = &entry;
    for (int depth = 0; depth < 64 && at->start >= start; ++depth) {
      if (at->parent == pid) return true;
      const auto up = byPid.find(at->parent);
      if (up == byPid.end() || at->parent == at->pid) return false;
      at = &table[up->second];
    }
    return false;
  };
  for (std::size_t i = 0; i < table.size(); ++i) {
    const platform::TProcessEntry& entry = table[i];
    if (entry.pid == pid) continue;
    const bool marked = runMark < 32 && (entry.marks & (1u << runMark)) != 0;
    const bool related = start != 0 && entry.start >= start &&
                         (entry.group == pid || entry.session == pid || descends(entry));
    if (marked || related) found.others.push_back(i);
  }
  return found;
}

namespace {

class TSystemWorkers : public TWorkers {
 public:
  explicit TSystemWorkers(const std::string& agentDir) : marker_(WorkerMarker(agentDir)) {}

  TWorkerStarted Start(const TWorkerStart& start) override {
    TWorkerStarted started;
    state::TWorkerOutput output;
    if (platform::kChildOutputToFile && !start.outputDirectory.empty()) {
      std::int64_t request = -1;
      try {
        request = std::stoll(start.request);
      } catch (const std::exception&) {
      }
      output = state::CreateWorkerOutput(start.outputDirectory, request, start.started, [] { return platform::RandomHex(4); });
      started.outputError = output.error;
      if (output.file.Ok()) started.output = output.file.Path();
    }
    platform::TStartedChild child = platform::StartChild(
        start.path, start.params, {marker_, WorkerRequestItem(start.request), WorkerRunItem(start.runKey)},
        output.file.Ok() ? &output.file : nullptr, start.outputLimit);
    started.result = child.result;
    started.warning = child.warning;
    if (!child.result.ok) {
      started.output.clear();
      return started;
    }
    started.pid = child.process.Pid();
    started.instance = platform::ProcessInstance(started.pid);
    children_[started.pid] = std::move(child.process);
    return started;
  }

  TRunLook Look(const TWorkerRun& run, const std::vector<std::string>& heldKeys) override {
    TRunLook look;
    const auto child = children_.find(run.pid);
    const bool ownChild = child != children_.end();  // the iterator goes with an ended child
    if (ownChild) {
      look.workerRuns = child->second.Running();
      if (!look.workerRuns) {
        look.exit = child->second.Reap();
        children_.erase(child);
      }
    }
    std::vector<std::string> marks{marker_, WorkerRunItem(run.key)};
    for (const std::string& key : heldKeys)
      if (key != run.key && marks.size() < 32) marks.push_back(WorkerRunItem(key));
    const std::vector<platform::TProcessEntry> table = platform::ListProcesses(marks);
    const TRunProcesses mine = SelectRunProcesses(table, run.pid, Start(run), 1);
    if (!ownChild) look.workerRuns = mine.workerRuns;
    std::vector<bool> taken(table.size());
    for (const std::size_t i : mine.others) {
      taken[i] = true;
      look.others.push_back(Seen(table[i]));
    }
    const std::uint32_t self = platform::CurrentProcessId();
    for (std::size_t i = 0; i < table.size(); ++i) {
      const platform::TProcessEntry& entry = table[i];
      // Marked as the installation's, but of no run held now (bits 1 and up).
      if (!taken[i] && entry.pid != run.pid && entry.pid != self && (entry.marks & 1u) != 0 && (entry.marks >> 1) == 0)
        look.strays.push_back(Seen(entry));
    }
    return look;
  }

  std::vector<std::string> Stop(const TWorkerRun& run) override {
    std::vector<std::string> failures;
    const auto note = [&](std::uint32_t pid, const platform::ProcessResult& result) {
      if (!result.ok) failures.push_back("pid " + std::to_string(pid) + ": " + result.message);
    };
    // The whole group at once while the child is not reaped, then whatever the look
    // still finds (what left the group, a worker that is not this agent's child).
    if (const auto child = children_.find(run.pid); child != children_.end()) note(run.pid, child->second.TerminateGroup());
    const std::vector<platform::TProcessEntry> table = platform::ListProcesses({marker_, WorkerRunItem(run.key)});
    const std::uint64_t start = Start(run);
    const TRunProcesses mine = SelectRunProcesses(table, run.pid, start, 1);
    if (mine.workerRuns) note(run.pid, platform::TerminateProcessInstance(run.pid, start));
    for (const std::size_t i : mine.others) note(table[i].pid, platform::TerminateProcessInstance(table[i].pid, table[i].start));
    return failures;
  }

 private:
  static std::uint64_t Start(const TWorkerRun& run) { return platform::InstanceStart(run.instance, run.pid).value_or(0); }
  static TSeenProcess Seen(const platform::TProcessEntry& entry) {
    return {entry.pid, entry.start, platform::ProcessCommandLine(entry.pid)};
  }

  std::string marker_;
  std::map<std::uint32_t, platform::TProcessHandle> children_;  // started, not reaped yet
};

}  // namespace

std::unique_ptr<TWorkers> SystemWorkers(const std::string& agentDir) { return std::make_unique<TSystemWorkers>(agentDir); }

}  // namespace qar::agent
