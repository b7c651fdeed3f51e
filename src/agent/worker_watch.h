// The workers of the agent's runs: started as its children, watched with their process group and marked descendants, stopped whole.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/process.h"

namespace qar::agent {

// The environment items the agent gives a worker, kept across exec and inherited by
// its children: the installation (its agent's directory), the request and the run.
// A process that carries the first belongs to the installation; the third tells
// which run it belongs to, also after it left the worker's group.
std::string WorkerMarker(const std::string& agentDir);
std::string WorkerRequestItem(const std::string& request);
std::string WorkerRunItem(const std::string& runKey);

// One worker start.
struct TWorkerStart {
  std::string path, params, request;
  std::string runKey;
  std::string outputDirectory;    // where its output file goes; empty: nowhere
  std::uint64_t outputLimit = 0;  // bytes of output kept at most (0: no limit)
  platform::TUtcDateTime started = 0;
};

struct TWorkerStarted {
  platform::ProcessResult result;  // the worker's own start
  std::uint32_t pid = 0;
  std::string instance;            // platform::ProcessInstance of the worker
  std::string output;              // its output file; empty: none
  std::string outputError;         // why it has none (it started without one)
  std::string warning;             // platform::TStartedChild::warning
};

// A run as supervision knows it: its request, its key and its worker's identity.
struct TWorkerRun {
  std::string request;
  std::string key;
  std::uint32_t pid = 0;
  std::string instance;  // empty: not known
};

// A process seen beside a run's worker.
struct TSeenProcess {
  std::uint32_t pid = 0;
  std::uint64_t start = 0;  // platform::TProcessEntry::start
  std::string commandLine;
  bool operator==(const TSeenProcess&) const = default;
};

// What one look at a run finds.
struct TRunLook {
  bool workerRuns = false;  // the worker itself (the agent's child counts until it is reaped)
  std::optional<platform::TExitStatus> exit;  // how the agent's child ended, at the look that reaped it
  std::vector<TSeenProcess> others;  // its group and session, and its marked descendants, still running
  std::vector<TSeenProcess> strays;  // carry the installation's marker, of no run held now: ignored
};

// How the dispatcher starts, watches and stops workers. SystemWorkers() gives the
// real ones; tests give their own.
class TWorkers {
 public:
  virtual ~TWorkers() = default;
  virtual TWorkerStarted Start(const TWorkerStart& start) = 0;
  // A look at `run`; `heldKeys` are the keys of every run the agent holds, so that
  // their processes are no strays.
  virtual TRunLook Look(const TWorkerRun& run, const std::vector<std::string>& heldKeys) = 0;
  // Ends the run's worker, its whole group and every process of it; what could not be ended.
  virtual std::vector<std::string> Stop(const TWorkerRun& run) = 0;
};

// The real workers of the installation in `agentDir`.
// POSIX: the worker is the agent's child in a session of its own (its group); a look
// finds the group's and the session's members that started after it, its descendants
// by their parents, and this user's processes that carry its run item (a child that
// left the session and was adopted by the system). Nothing else counts: not a process
// of the same program, not a marked process of no held run.
// Windows: the child and its descendants by their parents and creation times.
std::unique_ptr<TWorkers> SystemWorkers(const std::string& agentDir);

// Which entries of `table` belong to the run whose worker is `pid`, started at
// `start` (0: not known): `workerRuns` when the worker itself is listed with that
// start, `others` the indexes of the rest of the run: members of its group or session
// started no earlier than it, descendants of it by their parents started no earlier
// than it (both only with its start known), and entries that carry bit `runMark`.
struct TRunProcesses {
  bool workerRuns = false;
  std::vector<std::size_t> others;
};
TRunProcesses SelectRunProcesses(const std::vector<platform::TProcessEntry>& table, std::uint32_t pid,
                                 std::uint64_t start, std::uint32_t runMark);

}  // namespace qar::agent
