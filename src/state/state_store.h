// TStateStore: the installation's state store, where its agents publish themselves and record every worker run.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace qar {
class TDriverSession;
}

namespace qar::state {

// Where the store lives: one embedded SQLite file for the whole installation, so
// that every operator sees every agent, whatever user runs it.
//   POSIX: beside the settings file (the directory of platform::RegistryFilePath()),
//          except for the system-wide /etc/qarsnc/HKLM.reg, whose store lives in
//          /var/lib/qarsnc (/etc holds no changing data). The agent creates it with
//          mode 0660 so the installation's group (the setgid directory's group)
//          reads it and the agents of its other members write their rows.
//   Windows: %ProgramData%\QarSnc (created when missing).
// The file name is kStateStoreFileName in that directory.
inline constexpr const char* kStateStoreFileName = "qarsnc-state.db";
std::string StateStorePath();

// An agent past this poll age is shown as not responding.
inline constexpr double kNotRespondingSeconds = 30;
// Runs are kept this long; older ones are removed by the agents.
inline constexpr int kRunsKeptDays = 30;

// One agent of the installation, as it last published itself (table AGENTS, one row
// per agent process; the agent removes it when it ends normally).
struct TAgentRecord {
  // Who: the process and the operating system's identity of that process (POSIX:
  // boot id and start time in clock ticks; Windows: creation time), so that a reader
  // can tell the agent from a process that got its pid later.
  std::uint32_t pid = 0;
  std::string instance;
  std::string user;        // the account the agent runs as
  std::string exe;         // the agent's executable file; its directory is the installation
  platform::TDateTime started = 0;
  platform::TDateTime lastPoll = 0;  // the end of its last dispatcher tick
  std::string lastError;             // empty: none since it started
  platform::TDateTime lastErrorAt = 0;
  std::string request;               // the request whose worker it supervises; empty: none
  platform::TDateTime requestSince = 0;
  std::uint32_t workerPid = 0;       // 0: none, or not known (a worker left by an earlier agent)

  // Filled by the readers, not stored: seconds from lastPoll to the reader's `now`.
  double pollAgeSeconds = 0;

  bool operator==(const TAgentRecord&) const = default;
};

// True while the agent's own process runs: the same process (its instance), never
// one that got its pid later. Works for any user's agent on this machine.
bool AgentProcessRuns(const TAgentRecord& agent);

// How a run ended.
enum class TRunEnd {
  kRunning,     // not ended yet (or its agent ended before it did)
  kExited,      // code = the exit status (Windows: the exit code)
  kSignalled,   // code = the signal number (POSIX)
  kUnknown,     // it ended, but not as a child of the recording agent (adopted worker)
  kNotStarted,  // the start failed; note says why
};

// One run of the worker for one request (table RUNS).
struct TRunRecord {
  // Unique per run, chosen by the agent that starts it: the agent's instance and a
  // sequence number. A record written again with the same key replaces the first.
  std::string key;
  std::int64_t request = 0;
  platform::TDateTime started = 0;
  platform::TDateTime ended = 0;  // 0 while running
  TRunEnd end = TRunEnd::kRunning;
  int code = 0;
  // Whether the row had left "P" when the run ended; not known while it runs.
  std::optional<bool> leftPending;
  std::string output;   // the file holding the worker's output (POSIX); empty: none
  std::string note;     // such as "cancelled by the operator" or why it did not start
  std::uint32_t agentPid = 0;
  std::string agentUser;
  std::string agentExe;
  std::uint32_t workerPid = 0;

  // Seconds from start to end (to `now` for a reader while it runs); filled by the readers.
  double durationSeconds = 0;

  bool operator==(const TRunRecord&) const = default;
};

// The runs of one request, summed up (`QarCfg.exe list`, the status page).
struct TRequestSummary {
  std::int64_t request = 0;
  int runs = 0;
  double totalSeconds = 0;  // of the ended runs plus the running one up to `now`
  TRunRecord last;          // the latest run (by start)
};

// What an agent writes after one poll, in one transaction: its own row and the runs
// that started or ended since the previous write.
struct TStateUpdate {
  TAgentRecord agent;
  std::vector<TRunRecord> runs;
};

// Short text of a run's outcome: "running", "exit 3", "signal 9 (SIGKILL)",
// "ended (status unknown)", "not started".
std::string DescribeRunEnd(const TRunRecord& run);
// Stable names for the JSON forms: "running", "exit", "signal", "unknown", "not-started".
std::string RunEndName(TRunEnd end);

// The store file, open. Every failure raises EStateStore with the driver's message
// and the file name. One thread at a time.
//
// An agent:
//   TStateStore store = TStateStore::OpenForAgent(StateStorePath());
//   store.Write(update);                        // once a poll
//   store.RemoveAgent(instance);                // when it ends
// A reader (QarCfg.exe status/list, the status page):
//   TStateStore store = TStateStore::OpenForReading(StateStorePath());
//   for (const TAgentRecord& a : store.Agents(platform::Now())) ...
//
// On both systems the file is reached through the data layer's embedded SQLite
// session (Windows: the SQLite ODBC driver), so one implementation serves both.
class TStateStore {
 public:
  // Creates the file (and on Windows its directory) when missing and makes the
  // schema. A locked store is waited for at most `busyTimeoutMs`, so a slow reader
  // never holds the agent up for long. The file keeps a write-ahead log beside it
  // (<file>-wal, <file>-shm, with the file's mode) while an agent has it open.
  static TStateStore OpenForAgent(const std::string& path, int busyTimeoutMs = 250);
  // Opens an existing store without writing it (no file is created): a reader
  // needs only read access. A missing file raises EStateStore with Missing() set.
  static TStateStore OpenForReading(const std::string& path);

  TStateStore(TStateStore&&) noexcept;
  TStateStore& operator=(TStateStore&&) noexcept;
  ~TStateStore();

  const std::string& Path() const { return path_; }

  // ---- written by the agents
  // The agent's row and its runs, replaced by key, in one transaction.
  void Write(const TStateUpdate& update);
  // Only the agent's poll time: the cheap write of an idle agent. False when its row
  // is not there (then Write it whole).
  bool Touch(const std::string& instance, platform::TDateTime lastPoll);
  // Removes an agent's row (it ends); its runs stay.
  void RemoveAgent(const std::string& instance);
  // Removes runs that started before `before`; returns how many.
  std::int64_t RemoveRunsBefore(platform::TDateTime before);

  // ---- read by QarCfg.exe status/list and the status page
  // Every agent row, oldest start first, with pollAgeSeconds against `now`.
  std::vector<TAgentRecord> Agents(platform::TDateTime now);
  // The runs of one request, by start.
  std::vector<TRunRecord> RunsOfRequest(std::int64_t request, platform::TDateTime now);
  // The latest runs of any request, newest first, at most `limit`.
  std::vector<TRunRecord> RecentRuns(std::size_t limit, platform::TDateTime now);
  // One summary per request with a run started at or after `since` (0: all), by
  // request id. One grouped query: fit for tens of thousands of requests.
  std::vector<TRequestSummary> Summaries(platform::TDateTime since, platform::TDateTime now);
  // The summary of one request; none when it never ran.
  std::optional<TRequestSummary> SummaryOf(std::int64_t request, platform::TDateTime now);

 private:
  TStateStore(std::string path, std::unique_ptr<TDriverSession> session);
  std::string path_;
  std::unique_ptr<TDriverSession> session_;
};

// A failure of the state store: the driver's text with the file's name.
class EStateStore : public std::runtime_error {
 public:
  EStateStore(const std::string& message, bool missing = false)
      : std::runtime_error(message), missing_(missing) {}
  bool Missing() const { return missing_; }

 private:
  bool missing_;
};

}  // namespace qar::state
