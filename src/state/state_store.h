// TStateStore: the installation's state store, where its agents publish themselves and record every worker run.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
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

// The lock that lets one agent of the installation dispatch at a time, whatever its
// user (platform::TFileLock): kDispatcherLockFileName beside the state store.
inline constexpr const char* kDispatcherLockFileName = "qarsnc-dispatch.lock";
std::string DispatcherLockPath();

// An agent past this poll age is shown as not responding.
inline constexpr double kNotRespondingSeconds = 30;
// Runs are kept this long; older ones are removed by the agents.
inline constexpr int kRunsKeptDays = 30;
// The longest age or duration a reader believes; anything longer (or negative) is
// "not known".
inline constexpr double kLongestAgeSeconds = 10 * 366 * 86400.0;

// The store's layout. user_version holds kSchemaVersion; the table META holds, under
// "compatible", the oldest layout whose readers can still read the store. Layouts only
// ever add tables, columns and indexes, so a reader reads any store that is not marked
// incompatible; an agent writes only its own layout (it brings an older store up to it
// when it opens it, in one transaction; a newer store it refuses).
inline constexpr int kSchemaVersion = 2;

// The reader's present against which stored moments become ages: the UTC clock and the
// machine's steady clock. Ages come from the steady stamps where both are of one boot,
// else from the UTC clock (a stamp-less moment converts from a UTC time alone).
struct TMoment {
  platform::TUtcDateTime utc = 0;
  platform::TSteadyStamp steady;
  TMoment() = default;
  TMoment(platform::TUtcDateTime utc, platform::TSteadyStamp steady = {}) : utc(utc), steady(std::move(steady)) {}
  static TMoment Now();                       // the system's clocks
  static TMoment Of(platform::Clock& clock);  // NowUtc and Steady of `clock`
};

// Seconds from a stored moment to `now`: by the steady clock when `fromSteady` is of
// `now`'s boot, else by the UTC clock; none when neither is known or the result is
// negative or longer than kLongestAgeSeconds.
std::optional<double> AgeSeconds(platform::TUtcDateTime from, std::optional<double> fromSteady,
                                 const std::string& fromBoot, const TMoment& now);

// What an agent of the installation does: one dispatches the requests, any other
// stands by to take over.
enum class TAgentRole { kDispatching, kStandby, kUnknown };
std::string AgentRoleName(TAgentRole role);  // "dispatching", "standby", "unknown"

// One agent of the installation, as it last published itself (table AGENTS, one row
// per agent process; the agent removes it when it ends normally). Every time is UTC;
// 0 is "not known". A reader gets 0, none or empty for any stored value out of range.
struct TAgentRecord {
  // Who: the process and the operating system's identity of that process (POSIX:
  // boot id and start time in clock ticks; Windows: creation time), so that a reader
  // can tell the agent from a process that got its pid later.
  std::uint32_t pid = 0;
  std::string instance;
  std::string user;        // the account the agent runs as
  std::string exe;         // the agent's executable file; its directory is the installation
  TAgentRole role = TAgentRole::kDispatching;
  platform::TUtcDateTime started = 0;
  platform::TUtcDateTime lastPoll = 0;  // the end of its last dispatcher tick
  // The steady stamp of lastPoll, for ages that no change of the wall clock moves.
  std::optional<double> pollSteady;
  std::string boot;                     // of pollSteady (platform::TSteadyStamp::boot)
  std::string lastError;                // empty: none since it started
  platform::TUtcDateTime lastErrorAt = 0;
  std::string request;                  // the request whose worker it supervises; empty: none
  platform::TUtcDateTime requestSince = 0;
  std::uint32_t workerPid = 0;          // 0: none, or not known (a worker left by an earlier agent)
  // When its process was found gone without its row removed; 0 while it runs.
  platform::TUtcDateTime ended = 0;

  // Filled by the readers, not stored: seconds from lastPoll to the reader's `now`.
  std::optional<double> pollAgeSeconds;

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

// One run of the worker for one request (table RUNS). Times as in TAgentRecord.
struct TRunRecord {
  // Unique per run, chosen by the agent that starts it: the agent's instance and a
  // sequence number. A record written again with the same key replaces the first.
  std::string key;
  std::int64_t request = 0;
  platform::TUtcDateTime started = 0;
  platform::TUtcDateTime ended = 0;  // 0 while running
  // Steady stamps of the start and the end, both of `boot` (an end stamped on
  // another boot is left out).
  std::optional<double> startSteady, endSteady;
  std::string boot;
  TRunEnd end = TRunEnd::kRunning;
  int code = 0;
  // Whether the row had left "P" when the run ended; not known while it runs.
  std::optional<bool> leftPending;
  std::string output;   // the file holding the worker's output (POSIX); empty: none
  std::string note;     // such as "cancelled by the operator" or why it did not start
  std::uint32_t agentPid = 0;
  std::string agentInstance;   // platform::ProcessInstance of the agent
  std::string agentUser;
  std::string agentExe;
  std::uint32_t workerPid = 0;
  std::string workerInstance;  // platform::ProcessInstance of the worker; empty: not known

  // Seconds from start to end (to `now` for a reader while it runs); filled by the
  // readers, none when not known.
  std::optional<double> durationSeconds;

  bool operator==(const TRunRecord&) const = default;
};

// The note of a run whose agent ended while it ran and that no agent watched to its
// end: found ended by the next agent, or by a reader.
inline constexpr const char* kRunEndedUnwatched = "ended while no agent watched";

// True while the run's worker process runs: the same process (its identity when the
// run has one, else its pid). Works for any user's worker on this machine.
bool RunWorkerRuns(const TRunRecord& run);
// True while the agent that started the run still runs (its identity).
bool RunAgentRuns(const TRunRecord& run);

// The runs of one request, summed up (`QarCfg.exe list`, the status page).
struct TRequestSummary {
  std::int64_t request = 0;
  int runs = 0;
  double totalSeconds = 0;  // of the runs whose duration is known, a running one up to `now`
  TRunRecord last;          // the latest run (by start)
};

// The hours the overview charts, the current one last.
inline constexpr int kChartHours = 24;

// The runs that started in one hour: `hour` counts whole hours from the `since` asked
// for; failed ones exited with a status other than 0, were killed or did not start.
struct THourOfRuns {
  std::int64_t hour = 0;
  std::int64_t runs = 0, failed = 0;
};

// Counters that only grow (table COUNTERS), by name: what pruning old runs must not
// lower, such as the runs by outcome. Added to in the transaction that records a run.
using TCounterDeltas = std::map<std::string, std::int64_t>;

// What an agent writes after one poll, in one transaction: its own row, the runs
// that started or ended since the previous write and what to add to the counters.
struct TStateUpdate {
  TAgentRecord agent;
  std::vector<TRunRecord> runs;
  TCounterDeltas counters;
};

// Short text of a run's outcome: "running", "exit 3", "signal 9 (SIGKILL)",
// "ended (status unknown)", "not started".
std::string DescribeRunEnd(const TRunRecord& run);
// Stable names for the JSON forms: "running", "exit", "signal", "unknown", "not-started".
std::string RunEndName(TRunEnd end);

class TStoreTransaction;

// The store file, open. Every failure raises EStateStore with the driver's message
// and the file name. One thread at a time.
//
// An agent:
//   TStateStore store = TStateStore::OpenForAgent(StateStorePath());
//   store.Write(update);                        // once a poll
//   store.RemoveAgent(instance);                // when it ends
// A reader (QarCfg.exe status/list, the status page):
//   TStateStore store = TStateStore::OpenForReading(StateStorePath());
//   for (const TAgentRecord& a : store.Agents(TMoment::Now())) ...
//
// On both systems the file is reached through the data layer's embedded SQLite
// session (Windows: the SQLite ODBC driver), so one implementation serves both.
class TStateStore {
 public:
  // Creates the file (and on Windows its directory) when missing, makes the schema or
  // brings an older one up to kSchemaVersion. A store of a newer layout raises
  // EStateStore (Newer() set): this program does not write it. A locked store is
  // waited for at most `busyTimeoutMs`, so a slow reader never holds the agent up for
  // long. The file keeps a write-ahead log beside it (<file>-wal, <file>-shm, with the
  // file's mode) while an agent has it open.
  static TStateStore OpenForAgent(const std::string& path, int busyTimeoutMs = 250);
  // Opens an existing store without writing it (no file is created): a reader
  // needs only read access. A missing file raises EStateStore with Missing() set; a
  // store marked unreadable for this layout, EStateStore with Newer() set. A store of
  // an older layout (its agent not updated yet) is read as it is.
  static TStateStore OpenForReading(const std::string& path);

  TStateStore(TStateStore&&) noexcept;
  TStateStore& operator=(TStateStore&&) noexcept;
  ~TStateStore();

  const std::string& Path() const { return path_; }
  // The layout of the file (user_version) as it was opened.
  int SchemaVersion() const { return version_; }

  // ---- written by the agents
  // The agent's row, its runs (replaced by key) and the counters, in one transaction.
  void Write(const TStateUpdate& update);
  // Only the agent's poll time and its steady stamp: the cheap write of an idle
  // agent. False when its row is not there (then Write it whole).
  bool Touch(const std::string& instance, platform::TUtcDateTime lastPoll, const platform::TSteadyStamp& steady);
  // Removes an agent's row (it ends); its runs stay.
  void RemoveAgent(const std::string& instance);
  // Records that an agent's process was found gone at `when`; its row stays.
  void MarkAgentEnded(const std::string& instance, platform::TUtcDateTime when);
  // Removes runs that started before `before`; returns how many. Counters stay.
  std::int64_t RemoveRunsBefore(platform::TUtcDateTime before);
  // The request and output file of every run that started before `before` and names
  // one, for the clean-up to remove the files it may remove before the runs go.
  std::vector<std::pair<std::int64_t, std::string>> OutputsOfRunsBefore(platform::TUtcDateTime before);
  // Removes the rows of agents found gone before `before`.
  void RemoveAgentsEndedBefore(platform::TUtcDateTime before);
  // Adds `delta` (0 or more) to the counter `name`, created at 0. Inside a
  // TStoreTransaction it is part of it.
  void AddToCounter(const std::string& name, std::int64_t delta);

  // ---- read by QarCfg.exe status/list and the status page
  // Every agent row, oldest start first, with pollAgeSeconds against `now`.
  std::vector<TAgentRecord> Agents(const TMoment& now);
  // The runs of one request, by start.
  std::vector<TRunRecord> RunsOfRequest(std::int64_t request, const TMoment& now);
  // The latest runs of any request, newest first, at most `limit`.
  std::vector<TRunRecord> RecentRuns(std::size_t limit, const TMoment& now);
  // One summary per request with a run started at or after `since` (0: all), by
  // request id. One grouped query: fit for tens of thousands of requests.
  std::vector<TRequestSummary> Summaries(platform::TUtcDateTime since, const TMoment& now);
  // The runs started in the kChartHours hours from `since`, by hour of their start;
  // hours without a run are left out. One query on the indexes of the start and of the
  // failed runs.
  std::vector<THourOfRuns> RunsPerHour(platform::TUtcDateTime since);
  // The summary of one request; none when it never ran.
  std::optional<TRequestSummary> SummaryOf(std::int64_t request, const TMoment& now);
  // The runs still recorded as running (of any agent, gone or not), newest first, at
  // most `limit`.
  std::vector<TRunRecord> RunningRuns(std::size_t limit, const TMoment& now);
  // How many runs of `request` ended with its row still "P" (what MaxWorkerRuns counts).
  std::int64_t RunsLeftPending(std::int64_t request);
  // Every counter whose stored value is a whole number.
  std::map<std::string, std::int64_t> Counters();

 private:
  friend class TStoreTransaction;
  TStateStore(std::string path, std::unique_ptr<TDriverSession> session);
  void Migrate();
  std::string path_;
  std::unique_ptr<TDriverSession> session_;
  int version_ = kSchemaVersion;
};

// One transaction on the store, begun with the write lock (BEGIN IMMEDIATE) when it is
// made and rolled back when it ends without Commit, however it ends. Move-only.
//
//   TStoreTransaction transaction(store);
//   store.AddToCounter("runs", 1);
//   transaction.Commit();
class TStoreTransaction {
 public:
  explicit TStoreTransaction(TStateStore& store);
  ~TStoreTransaction();
  TStoreTransaction(const TStoreTransaction&) = delete;
  TStoreTransaction& operator=(const TStoreTransaction&) = delete;
  void Commit();

 private:
  TStateStore& store_;
  bool open_ = true;
};

// A failure of the state store: the driver's text with the file's name.
class EStateStore : public std::runtime_error {
 public:
  enum class TKind { kOther, kMissing, kNewer };
  explicit EStateStore(const std::string& message, TKind kind = TKind::kOther)
      : std::runtime_error(message), kind_(kind) {}
  // There is no store: no agent of the installation has run.
  bool Missing() const { return kind_ == TKind::kMissing; }
  // The store has a newer layout than this program writes (or, for a reader, reads).
  bool Newer() const { return kind_ == TKind::kNewer; }

 private:
  TKind kind_;
};

}  // namespace qar::state
