#include "state/state_store.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "data/data_error.h"
#include "data/driver_session.h"
#include "platform/module.h"
#include "platform/process.h"
#include "state/state_store_system.h"

namespace qar::state {

namespace {

constexpr double kSecondsPerDay = 86400.0;

// Plain SQLite SQL: the store is never a server's database, so no dialect applies.
//
// Layout 0, as the first agents made it (no user_version): times are local date-times
// (days since 1899-12-30) as REAL. Every store starts from it and is brought forward.
constexpr const char* kLayout0[] = {
    "CREATE TABLE IF NOT EXISTS AGENTS ("
    " INSTANCE TEXT PRIMARY KEY, PID INTEGER NOT NULL, USERNAME TEXT NOT NULL, EXE TEXT NOT NULL,"
    " STARTED REAL NOT NULL, LASTPOLL REAL NOT NULL, LASTERROR TEXT NOT NULL, LASTERRORAT REAL NOT NULL,"
    " REQUEST TEXT NOT NULL, REQUESTSINCE REAL NOT NULL, WORKERPID INTEGER NOT NULL)",
    "CREATE TABLE IF NOT EXISTS RUNS ("
    " RUNKEY TEXT PRIMARY KEY, REQUEST INTEGER NOT NULL, STARTED REAL NOT NULL, ENDED REAL NOT NULL,"
    " OUTCOME TEXT NOT NULL, CODE INTEGER NOT NULL, LEFTPENDING INTEGER, OUTPUTFILE TEXT NOT NULL,"
    " NOTE TEXT NOT NULL, AGENTPID INTEGER NOT NULL, AGENTUSER TEXT NOT NULL, AGENTEXE TEXT NOT NULL,"
    " WORKERPID INTEGER NOT NULL)",
    "CREATE INDEX IF NOT EXISTS RUNS_BY_REQUEST ON RUNS (REQUEST, STARTED)",
    "CREATE INDEX IF NOT EXISTS RUNS_BY_START ON RUNS (STARTED)",
};

// Layout 1: times in UTC (still days since 1899-12-30); the agent's role, steady stamps
// (seconds of the machine's steady clock and the boot they belong to) and its end; the
// run's agent and worker process identities; counters; the compatibility mark.
constexpr const char* kLayout1[] = {
    "ALTER TABLE AGENTS ADD COLUMN ROLE TEXT NOT NULL DEFAULT 'dispatching'",
    "ALTER TABLE AGENTS ADD COLUMN POLLSTEADY REAL",
    "ALTER TABLE AGENTS ADD COLUMN BOOTID TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE AGENTS ADD COLUMN ENDED REAL",
    "ALTER TABLE RUNS ADD COLUMN AGENTINSTANCE TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE RUNS ADD COLUMN WORKERINSTANCE TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE RUNS ADD COLUMN STARTSTEADY REAL",
    "ALTER TABLE RUNS ADD COLUMN ENDSTEADY REAL",
    "ALTER TABLE RUNS ADD COLUMN BOOTID TEXT NOT NULL DEFAULT ''",
    // Run keys are "<agent instance>/<sequence number>".
    "UPDATE RUNS SET AGENTINSTANCE = substr(RUNKEY, 1, instr(RUNKEY, '/') - 1) WHERE instr(RUNKEY, '/') > 1",
    "CREATE TABLE COUNTERS (NAME TEXT PRIMARY KEY, VALUE INTEGER NOT NULL)",
    "CREATE TABLE META (NAME TEXT PRIMARY KEY, VALUE INTEGER NOT NULL)",
    "INSERT INTO META (NAME, VALUE) VALUES ('compatible', 1)",
};

// A failed run: it exited with a status other than 0, was killed or did not start. One
// expression rather than an OR, so that SQLite takes RUNS_FAILED_BY_START for a query that
// names it (as it is written here) instead of an index of the outcome for each branch.
constexpr const char* kFailedRun =
    "CASE WHEN OUTCOME IN ('signal', 'not-started') THEN 1"
    " WHEN OUTCOME = 'exit' AND typeof(CODE) = 'integer' AND CODE <> 0 THEN 1 ELSE 0 END = 1";

// Layout 2: the indexes the status page reads from: the running runs found by the first;
// the second holds only the failed runs, by start, for the chart. A store of layout 1 may
// have the first already (its agents made it when they opened it).
const std::string kLayout2[] = {
    "CREATE INDEX IF NOT EXISTS RUNS_BY_OUTCOME ON RUNS (OUTCOME, STARTED)",
    std::string("CREATE INDEX IF NOT EXISTS RUNS_FAILED_BY_START ON RUNS (STARTED, OUTCOME, CODE) WHERE ") + kFailedRun,
};

// The local times of layout 0 that become UTC in layout 1.
constexpr std::pair<const char*, const char*> kLocalTimes[] = {
    {"AGENTS", "STARTED"}, {"AGENTS", "LASTPOLL"}, {"AGENTS", "LASTERRORAT"}, {"AGENTS", "REQUESTSINCE"},
    {"RUNS", "STARTED"},   {"RUNS", "ENDED"},
};

// How a reader takes a column, whatever a group member wrote into it.
enum class TKind {
  kText,
  kWhole,   // an integer; anything else reads as not known
  kNumber,  // an integer or a real
  kTime,    // a date-time; in layout 0 a local one
};

struct TColumn {
  const char* name;
  TKind kind;
  int since;                   // the layout that added it
  const char* absent = "NULL";  // what a store of an older layout gives for it
};

constexpr TColumn kAgentColumns[] = {
    {"INSTANCE", TKind::kText, 0},      {"PID", TKind::kWhole, 0},
    {"USERNAME", TKind::kText, 0},      {"EXE", TKind::kText, 0},
    {"STARTED", TKind::kTime, 0},       {"LASTPOLL", TKind::kTime, 0},
    {"LASTERROR", TKind::kText, 0},     {"LASTERRORAT", TKind::kTime, 0},
    {"REQUEST", TKind::kText, 0},       {"REQUESTSINCE", TKind::kTime, 0},
    {"WORKERPID", TKind::kWhole, 0},    {"ROLE", TKind::kText, 1, "'dispatching'"},
    {"POLLSTEADY", TKind::kNumber, 1},  {"BOOTID", TKind::kText, 1, "''"},
    {"ENDED", TKind::kTime, 1},
};

constexpr TColumn kRunColumns[] = {
    {"RUNKEY", TKind::kText, 0},         {"REQUEST", TKind::kWhole, 0},
    {"STARTED", TKind::kTime, 0},        {"ENDED", TKind::kTime, 0},
    {"OUTCOME", TKind::kText, 0},        {"CODE", TKind::kWhole, 0},
    {"LEFTPENDING", TKind::kWhole, 0},   {"OUTPUTFILE", TKind::kText, 0},
    {"NOTE", TKind::kText, 0},           {"AGENTPID", TKind::kWhole, 0},
    {"AGENTUSER", TKind::kText, 0},      {"AGENTEXE", TKind::kText, 0},
    {"WORKERPID", TKind::kWhole, 0},     {"AGENTINSTANCE", TKind::kText, 1, "''"},
    {"WORKERINSTANCE", TKind::kText, 1, "''"}, {"STARTSTEADY", TKind::kNumber, 1},
    {"ENDSTEADY", TKind::kNumber, 1},    {"BOOTID", TKind::kText, 1, "''"},
};

template <std::size_t N>
std::string ColumnNames(const TColumn (&columns)[N]) {
  std::string names;
  for (const TColumn& c : columns) names += std::string(names.empty() ? "" : ", ") + c.name;
  return names;
}

template <std::size_t N>
std::string Placeholders(const TColumn (&)[N]) {
  std::string marks;
  for (std::size_t i = 0; i < N; ++i) marks += i ? ",?" : "?";
  return marks;
}

std::string Literal(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// How the statements read the columns of a store of one layout: a value of the wrong
// type reads as NULL, so that no driver has to convert it; layout 0's local times
// become UTC with the offset given.
class TReading {
 public:
  TReading(int version, double localOffsetDays) : version_(version), offset_(localOffsetDays) {}

  std::string Expression(const TColumn& c, const std::string& table) const {
    const std::string name = table + "." + c.name;
    if (version_ < c.since) return c.absent;
    switch (c.kind) {
      case TKind::kText: return name;
      case TKind::kWhole: return "CASE WHEN typeof(" + name + ") = 'integer' THEN " + name + " END";
      case TKind::kNumber: return Number(name);
      case TKind::kTime:
        if (version_ >= 1) return Number(name);
        return "CASE WHEN typeof(" + name + ") IN ('integer','real') AND " + name + " <> 0 THEN " + name + " - " +
               Literal(offset_) + " END";
    }
    return "NULL";
  }

  template <std::size_t N>
  std::string Select(const TColumn (&columns)[N], const std::string& table) const {
    std::string list;
    for (const TColumn& c : columns) list += (list.empty() ? "" : ", ") + Expression(c, table);
    return list;
  }

  template <std::size_t N>
  std::string Column(const TColumn (&columns)[N], const char* name, const std::string& table) const {
    for (const TColumn& c : columns)
      if (std::string(c.name) == name) return Expression(c, table);
    throw std::logic_error(std::string("no column ") + name);
  }

 private:
  static std::string Number(const std::string& name) {
    return "CASE WHEN typeof(" + name + ") IN ('integer','real') THEN " + name + " END";
  }
  int version_;
  double offset_;
};

TDriverParameter Param(Variant value) {
  TDriverParameter p;
  p.value = std::move(value);
  return p;
}

TDriverParameter OptionalParam(const std::optional<double>& value) {
  return value ? Param(*value) : Param(Variant::Null());
}

// ---- reading what anyone may have written: never raises, anything odd is not known

std::string TextOf(const Variant& v) { return v.IsNull() || v.IsEmpty() ? std::string() : v.AsString(); }

// The whole text as a number of type T; none when it is not one.
template <class T>
std::optional<T> ParseWhole(const std::string& text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A finite number; the SQLite ODBC driver hands computed columns over as text.
std::optional<double> NumberOf(const Variant& v) {
  std::optional<double> value;
  if (v.Type() == TVarType::Integer || v.Type() == TVarType::Double) value = v.AsDouble();
  if (v.Type() == TVarType::String) value = ParseWhole<double>(v.AsString());
  if (value && !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<std::int64_t> WholeOf(const Variant& v, std::int64_t low, std::int64_t high) {
  std::optional<std::int64_t> value;
  if (v.Type() == TVarType::Integer) value = v.AsInt64();
  if (v.Type() == TVarType::String) value = ParseWhole<std::int64_t>(v.AsString());
  if (value && (*value < low || *value > high)) return std::nullopt;
  return value;
}

std::uint32_t PidOf(const Variant& v) { return static_cast<std::uint32_t>(WholeOf(v, 0, INT32_MAX).value_or(0)); }

platform::TUtcDateTime TimeOf(const Variant& v) {
  const std::optional<double> value = NumberOf(v);
  return value && platform::IsValidDateTime(*value) ? *value : 0;
}

TRunEnd EndFromName(const std::string& name) {
  if (name == "running") return TRunEnd::kRunning;
  if (name == "exit") return TRunEnd::kExited;
  if (name == "signal") return TRunEnd::kSignalled;
  if (name == "not-started") return TRunEnd::kNotStarted;
  return TRunEnd::kUnknown;
}

TAgentRole RoleFromName(const std::string& name) {
  if (name == "dispatching") return TAgentRole::kDispatching;
  if (name == "standby") return TAgentRole::kStandby;
  return TAgentRole::kUnknown;
}

std::optional<double> InRange(double seconds) {
  if (!(seconds >= 0 && seconds <= kLongestAgeSeconds)) return std::nullopt;  // NaN too
  return seconds;
}

// The columns of kAgentColumns, in order.
TAgentRecord ReadAgent(const std::vector<Variant>& row, const TMoment& now) {
  TAgentRecord a;
  a.instance = TextOf(row[0]);
  a.pid = PidOf(row[1]);
  a.user = TextOf(row[2]);
  a.exe = TextOf(row[3]);
  a.started = TimeOf(row[4]);
  a.lastPoll = TimeOf(row[5]);
  a.lastError = TextOf(row[6]);
  a.lastErrorAt = TimeOf(row[7]);
  a.request = TextOf(row[8]);
  a.requestSince = TimeOf(row[9]);
  a.workerPid = PidOf(row[10]);
  a.role = RoleFromName(TextOf(row[11]));
  a.pollSteady = NumberOf(row[12]);
  a.boot = TextOf(row[13]);
  a.ended = TimeOf(row[14]);
  a.pollAgeSeconds = AgeSeconds(a.lastPoll, a.pollSteady, a.boot, now);
  return a;
}

// The columns of kRunColumns, in order, from `first` on.
TRunRecord ReadRun(const std::vector<Variant>& row, std::size_t first, const TMoment& now) {
  const Variant* c = row.data() + first;
  TRunRecord r;
  r.key = TextOf(c[0]);
  r.request = WholeOf(c[1], 0, INT64_MAX).value_or(0);
  r.started = TimeOf(c[2]);
  r.ended = TimeOf(c[3]);
  r.end = EndFromName(TextOf(c[4]));
  const std::optional<std::int64_t> code = WholeOf(c[5], INT32_MIN, INT32_MAX);
  if (code) {
    r.code = static_cast<int>(*code);
  } else if (r.end == TRunEnd::kExited || r.end == TRunEnd::kSignalled) {
    r.end = TRunEnd::kUnknown;  // an outcome without its code
  }
  if (const auto left = WholeOf(c[6], INT64_MIN, INT64_MAX)) r.leftPending = *left != 0;
  r.output = TextOf(c[7]);
  r.note = TextOf(c[8]);
  r.agentPid = PidOf(c[9]);
  r.agentUser = TextOf(c[10]);
  r.agentExe = TextOf(c[11]);
  r.workerPid = PidOf(c[12]);
  r.agentInstance = TextOf(c[13]);
  r.workerInstance = TextOf(c[14]);
  r.startSteady = NumberOf(c[15]);
  r.endSteady = NumberOf(c[16]);
  r.boot = TextOf(c[17]);
  if (r.end == TRunEnd::kRunning) {
    r.durationSeconds = AgeSeconds(r.started, r.startSteady, r.boot, now);
  } else if (r.startSteady && r.endSteady && !r.boot.empty()) {
    r.durationSeconds = InRange(*r.endSteady - *r.startSteady);
  } else if (r.started != 0 && r.ended != 0) {
    r.durationSeconds = InRange((r.ended - r.started) * kSecondsPerDay);
  }
  return r;
}

}  // namespace

std::string DispatcherLockPath() {
  const std::string dir = platform::ExtractFileDir(StateStorePath());
  return (dir.empty() ? std::string(".") : dir) + platform::kPathDelim + kDispatcherLockFileName;
}

TMoment TMoment::Now() { return {platform::NowUtc(), platform::SystemSteadyStamp()}; }
TMoment TMoment::Of(platform::Clock& clock) { return {clock.NowUtc(), clock.Steady()}; }

std::optional<double> AgeSeconds(platform::TUtcDateTime from, std::optional<double> fromSteady,
                                 const std::string& fromBoot, const TMoment& now) {
  if (fromSteady && !fromBoot.empty() && fromBoot == now.steady.boot) return InRange(now.steady.seconds - *fromSteady);
  if (from == 0 || !platform::IsValidDateTime(from) || !platform::IsValidDateTime(now.utc)) return std::nullopt;
  return InRange((now.utc - from) * kSecondsPerDay);
}

std::string AgentRoleName(TAgentRole role) {
  switch (role) {
    case TAgentRole::kDispatching: return "dispatching";
    case TAgentRole::kStandby: return "standby";
    case TAgentRole::kUnknown: break;
  }
  return "unknown";
}

bool AgentProcessRuns(const TAgentRecord& agent) {
  return !agent.instance.empty() && platform::ProcessInstance(agent.pid) == agent.instance;
}

bool RunWorkerRuns(const TRunRecord& run) {
  const std::string now = platform::ProcessInstance(run.workerPid);
  return !now.empty() && (run.workerInstance.empty() || now == run.workerInstance);
}

bool RunAgentRuns(const TRunRecord& run) {
  return !run.agentInstance.empty() && platform::ProcessInstance(run.agentPid) == run.agentInstance;
}

std::string RunEndName(TRunEnd end) {
  switch (end) {
    case TRunEnd::kRunning: return "running";
    case TRunEnd::kExited: return "exit";
    case TRunEnd::kSignalled: return "signal";
    case TRunEnd::kUnknown: return "unknown";
    case TRunEnd::kNotStarted: return "not-started";
  }
  return "unknown";
}

std::string DescribeRunEnd(const TRunRecord& run) {
  switch (run.end) {
    case TRunEnd::kRunning: return "running";
    case TRunEnd::kExited: return "exit " + std::to_string(run.code);
    case TRunEnd::kSignalled: {
      const std::string name = platform::SignalName(run.code);
      return "signal " + std::to_string(run.code) + (name.empty() ? "" : " (" + name + ")");
    }
    case TRunEnd::kUnknown: return "status unknown";
    case TRunEnd::kNotStarted: return "not started";
  }
  return "unknown";
}

TStateStore::TStateStore(std::string path, std::unique_ptr<TDriverSession> session)
    : path_(std::move(path)), session_(std::move(session)) {}
TStateStore::TStateStore(TStateStore&&) noexcept = default;
TStateStore& TStateStore::operator=(TStateStore&&) noexcept = default;
TStateStore::~TStateStore() = default;

namespace {

// Runs `statement` on the store, turning a driver failure into EStateStore.
TDriverResult Run(TDriverSession& session, const std::string& path, const std::string& statement,
                  std::vector<TDriverParameter> parameters = {}) {
  try {
    return session.Execute(statement, parameters, std::nullopt);
  } catch (const EDataError& error) {
    throw EStateStore("State store " + path + ": " + error.what());
  }
}

// A PRAGMA's or a single value's whole number; 0 when there is none.
std::int64_t WholeResult(const TDriverResult& result) {
  if (result.rows.empty() || result.rows[0].empty()) return 0;
  return WholeOf(result.rows[0][0], INT64_MIN, INT64_MAX).value_or(0);
}

int StoredVersion(TDriverSession& session, const std::string& path) {
  return static_cast<int>(std::clamp<std::int64_t>(WholeResult(Run(session, path, "PRAGMA user_version")), 0, 1 << 30));
}

}  // namespace

TStoreTransaction::TStoreTransaction(TStateStore& store) : store_(store) {
  Run(*store_.session_, store_.path_, "BEGIN IMMEDIATE");
}

TStoreTransaction::~TStoreTransaction() {
  if (!open_) return;
  try {
    Run(*store_.session_, store_.path_, "ROLLBACK");
  } catch (const EStateStore&) {
    // The failure that left the transaction open is the one the caller reports.
  }
}

void TStoreTransaction::Commit() {
  Run(*store_.session_, store_.path_, "COMMIT");
  open_ = false;
}

void TStateStore::Migrate() {
  if (StoredVersion(*session_, path_) == kSchemaVersion) return;
  // Under the write lock, read again: another agent may have just done it.
  TStoreTransaction transaction(*this);
  const int version = StoredVersion(*session_, path_);
  if (version > kSchemaVersion) {
    throw EStateStore("State store " + path_ + " has layout " + std::to_string(version) + ", newer than layout " +
                          std::to_string(kSchemaVersion) + " of this QarSnc: it writes no state there until it is updated",
                      EStateStore::TKind::kNewer);
  }
  if (version == kSchemaVersion) return;
  if (version < 1) {
    for (const char* statement : kLayout0) Run(*session_, path_, statement);
    for (const char* statement : kLayout1) Run(*session_, path_, statement);
    // The local times become UTC with this machine's offset now: a time written on the
    // other side of a change of daylight-saving time ends up an hour off, once.
    const std::string offset = Literal(platform::LocalOffsetSeconds() / kSecondsPerDay);
    for (const auto& [table, column] : kLocalTimes) {
      const std::string c = column;
      Run(*session_, path_, std::string("UPDATE ") + table + " SET " + c + " = " + c + " - " + offset + " WHERE typeof(" +
                                c + ") IN ('integer','real') AND " + c + " <> 0");
    }
  }
  for (const std::string& statement : kLayout2) Run(*session_, path_, statement);
  Run(*session_, path_, "PRAGMA user_version = " + std::to_string(kSchemaVersion));
  transaction.Commit();
}

TStateStore TStateStore::OpenForAgent(const std::string& path, int busyTimeoutMs) {
  std::unique_ptr<TDriverSession> session;
  try {
    PrepareStoreFile(path);
    session = OpenEmbeddedSqlite(platform::HostFileName(path), TJournalMode::kWal, std::max(0, busyTimeoutMs));
  } catch (const EDataError& error) {
    throw EStateStore("State store " + path + ": " + error.what());
  }
  TStateStore store(path, std::move(session));
  // A write a poll must cost next to nothing: with a write-ahead log a commit is not
  // flushed to disk, and a crash loses at most the last polls, never the file.
  Run(*store.session_, path, "PRAGMA journal_mode = WAL");
  Run(*store.session_, path, "PRAGMA synchronous = NORMAL");
  store.Migrate();
  return store;
}

TStateStore TStateStore::OpenForReading(const std::string& path) {
  if (!StoreFileExists(path)) {
    throw EStateStore("State store " + path + " does not exist: no agent of this installation has run",
                      EStateStore::TKind::kMissing);
  }
  std::unique_ptr<TDriverSession> session;
  try {
    session = OpenEmbeddedSqliteForReading(platform::HostFileName(path));
  } catch (const EDataError& error) {
    throw EStateStore("State store " + path + ": " + error.what());
  }
  // Also where the driver opens files for writing (the ODBC driver): a reader never writes.
  Run(*session, path, "PRAGMA query_only = 1");
  TStateStore store(path, std::move(session));
  store.version_ = StoredVersion(*store.session_, path);
  if (store.version_ > kSchemaVersion) {
    const std::int64_t compatible =
        WholeResult(Run(*store.session_, path, "SELECT VALUE FROM META WHERE NAME = 'compatible'"));
    if (compatible > kSchemaVersion) {
      throw EStateStore("State store " + path + " has layout " + std::to_string(store.version_) +
                            ", which this program cannot read: update QarSnc",
                        EStateStore::TKind::kNewer);
    }
  }
  return store;
}

void TStateStore::Write(const TStateUpdate& update) {
  TStoreTransaction transaction(*this);
  const TAgentRecord& a = update.agent;
  Run(*session_, path_,
      "INSERT OR REPLACE INTO AGENTS (" + ColumnNames(kAgentColumns) + ") VALUES (" + Placeholders(kAgentColumns) + ")",
      {Param(a.instance), Param(static_cast<std::int64_t>(a.pid)), Param(a.user), Param(a.exe), Param(a.started),
       Param(a.lastPoll), Param(a.lastError), Param(a.lastErrorAt), Param(a.request), Param(a.requestSince),
       Param(static_cast<std::int64_t>(a.workerPid)), Param(AgentRoleName(a.role)), OptionalParam(a.pollSteady),
       Param(a.boot), a.ended != 0 ? Param(a.ended) : Param(Variant::Null())});
  for (const TRunRecord& r : update.runs) {
    Run(*session_, path_,
        "INSERT OR REPLACE INTO RUNS (" + ColumnNames(kRunColumns) + ") VALUES (" + Placeholders(kRunColumns) + ")",
        {Param(r.key), Param(r.request), Param(r.started), Param(r.ended), Param(RunEndName(r.end)),
         Param(static_cast<std::int64_t>(r.code)),
         r.leftPending ? Param(static_cast<std::int64_t>(*r.leftPending ? 1 : 0)) : Param(Variant::Null()),
         Param(r.output), Param(r.note), Param(static_cast<std::int64_t>(r.agentPid)), Param(r.agentUser),
         Param(r.agentExe), Param(static_cast<std::int64_t>(r.workerPid)), Param(r.agentInstance),
         Param(r.workerInstance), OptionalParam(r.startSteady), OptionalParam(r.endSteady), Param(r.boot)});
  }
  for (const auto& [name, delta] : update.counters) AddToCounter(name, delta);
  transaction.Commit();
}

bool TStateStore::Touch(const std::string& instance, platform::TUtcDateTime lastPoll,
                        const platform::TSteadyStamp& steady) {
  return Run(*session_, path_, "UPDATE AGENTS SET LASTPOLL = ?, POLLSTEADY = ?, BOOTID = ? WHERE INSTANCE = ?",
             {Param(lastPoll), steady.boot.empty() ? Param(Variant::Null()) : Param(steady.seconds),
              Param(steady.boot), Param(instance)})
             .rowsAffected > 0;
}

void TStateStore::RemoveAgent(const std::string& instance) {
  Run(*session_, path_, "DELETE FROM AGENTS WHERE INSTANCE = ?", {Param(instance)});
}

void TStateStore::MarkAgentEnded(const std::string& instance, platform::TUtcDateTime when) {
  Run(*session_, path_, "UPDATE AGENTS SET ENDED = ? WHERE INSTANCE = ?", {Param(when), Param(instance)});
}

std::int64_t TStateStore::RemoveRunsBefore(platform::TUtcDateTime before) {
  return std::max<std::int64_t>(0, Run(*session_, path_, "DELETE FROM RUNS WHERE STARTED < ?", {Param(before)}).rowsAffected);
}

std::vector<std::pair<std::int64_t, std::string>> TStateStore::OutputsOfRunsBefore(platform::TUtcDateTime before) {
  std::vector<std::pair<std::int64_t, std::string>> outputs;
  for (const auto& row : Run(*session_, path_,
                             "SELECT REQUEST, OUTPUTFILE FROM RUNS WHERE STARTED < ? AND typeof(OUTPUTFILE) = 'text'"
                             " AND OUTPUTFILE <> ''",
                             {Param(before)})
                             .rows) {
    if (const auto request = WholeOf(row[0], 0, INT64_MAX)) outputs.emplace_back(*request, TextOf(row[1]));
  }
  return outputs;
}

void TStateStore::RemoveAgentsEndedBefore(platform::TUtcDateTime before) {
  if (version_ < 1) return;
  Run(*session_, path_, "DELETE FROM AGENTS WHERE typeof(ENDED) IN ('integer','real') AND ENDED <> 0 AND ENDED < ?",
      {Param(before)});
}

void TStateStore::AddToCounter(const std::string& name, std::int64_t delta) {
  if (delta < 0) throw std::invalid_argument("counter " + name + ": a counter never goes down");
  Run(*session_, path_,
      "INSERT INTO COUNTERS (NAME, VALUE) VALUES (?, ?) ON CONFLICT (NAME) DO UPDATE SET VALUE = VALUE + excluded.VALUE",
      {Param(name), Param(delta)});
}

namespace {
double LocalOffsetDays() { return platform::LocalOffsetSeconds() / kSecondsPerDay; }
}  // namespace

std::vector<TAgentRecord> TStateStore::Agents(const TMoment& now) {
  const TReading reading(version_, LocalOffsetDays());
  std::vector<TAgentRecord> agents;
  for (const auto& row :
       Run(*session_, path_, "SELECT " + reading.Select(kAgentColumns, "AGENTS") + " FROM AGENTS ORDER BY STARTED, PID").rows)
    agents.push_back(ReadAgent(row, now));
  return agents;
}

namespace {
// The runs "SELECT <the run columns> FROM RUNS <rest>" gives.
std::vector<TRunRecord> SelectRuns(TDriverSession& session, const std::string& path, int version, const std::string& rest,
                                   std::vector<TDriverParameter> parameters, const TMoment& now) {
  const TReading reading(version, LocalOffsetDays());
  std::vector<TRunRecord> runs;
  for (const auto& row :
       Run(session, path, "SELECT " + reading.Select(kRunColumns, "RUNS") + " FROM RUNS " + rest, std::move(parameters)).rows)
    runs.push_back(ReadRun(row, 0, now));
  return runs;
}
}  // namespace

std::vector<TRunRecord> TStateStore::RunsOfRequest(std::int64_t request, const TMoment& now) {
  return SelectRuns(*session_, path_, version_, "WHERE REQUEST = ? ORDER BY STARTED, RUNKEY", {Param(request)}, now);
}

std::vector<TRunRecord> TStateStore::RecentRuns(std::size_t limit, const TMoment& now) {
  return SelectRuns(*session_, path_, version_, "ORDER BY STARTED DESC, RUNKEY DESC LIMIT ?",
                    {Param(static_cast<std::int64_t>(std::min<std::size_t>(limit, INT64_MAX)))}, now);
}

std::vector<TRunRecord> TStateStore::RunningRuns(std::size_t limit, const TMoment& now) {
  return SelectRuns(*session_, path_, version_, "WHERE OUTCOME = 'running' ORDER BY STARTED DESC, RUNKEY DESC LIMIT ?",
                    {Param(static_cast<std::int64_t>(std::min<std::size_t>(limit, INT64_MAX)))}, now);
}

std::int64_t TStateStore::RunsLeftPending(std::int64_t request) {
  return WholeResult(Run(*session_, path_,
                         "SELECT COUNT(*) FROM RUNS WHERE REQUEST = ? AND typeof(LEFTPENDING) = 'integer'"
                         " AND LEFTPENDING = 0",
                         {Param(request)}));
}

std::vector<THourOfRuns> TStateStore::RunsPerHour(platform::TUtcDateTime since) {
  const TReading reading(version_, LocalOffsetDays());
  // An hour a range of the start's index: no sort of the day's runs, and the runs are
  // counted without reading one; the failed ones a range of RUNS_FAILED_BY_START. A start
  // that is no number is in no range; layout 0's local starts are converted first.
  const std::string started = version_ >= 1 ? std::string("STARTED") : reading.Column(kRunColumns, "STARTED", "RUNS");
  const std::string range = " FROM RUNS WHERE " + started + " >= ? AND " + started + " < ?";
  std::string statement;
  std::vector<TDriverParameter> params;
  for (int hour = 0; hour < kChartHours; ++hour) {
    statement += std::string(hour ? " UNION ALL " : "") + "SELECT " + std::to_string(hour) + ", (SELECT COUNT(*)" +
                 range + "), (SELECT COUNT(*)" + range + " AND " + kFailedRun + ")";
    for (int twice = 0; twice < 2; ++twice) {
      params.push_back(Param(since + hour / 24.0));
      params.push_back(Param(since + (hour + 1) / 24.0));
    }
  }
  std::vector<THourOfRuns> hours;
  for (const auto& row : Run(*session_, path_, statement, std::move(params)).rows) {
    const auto hour = WholeOf(row[0], 0, INT32_MAX);
    const std::int64_t runs = WholeOf(row[1], 0, INT64_MAX).value_or(0);
    if (hour && runs > 0) hours.push_back({*hour, runs, WholeOf(row[2], 0, INT64_MAX).value_or(0)});
  }
  return hours;
}

std::map<std::string, std::int64_t> TStateStore::Counters() {
  std::map<std::string, std::int64_t> counters;
  if (version_ < 1) return counters;
  for (const auto& row : Run(*session_, path_, "SELECT NAME, VALUE FROM COUNTERS").rows)
    if (const auto value = WholeOf(row[1], 0, INT64_MAX)) counters[TextOf(row[0])] = *value;
  return counters;
}

namespace {

// Per request: how many runs, the total of their known durations (a running one up
// to now; the same rules as ReadRun, in SQL) and the latest run's columns. Requests
// whose latest run started before the last parameter are left out. Parameters: the
// reader's boot, steady seconds and UTC time, [the request,] `since`.
std::string SummaryStatement(const TReading& reading, bool oneRequest) {
  const auto c = [&](const char* name) { return reading.Column(kRunColumns, name, "RUNS"); };
  const std::string startSteady = c("STARTSTEADY"), endSteady = c("ENDSTEADY"), boot = c("BOOTID");
  const std::string duration =
      "CASE WHEN OUTCOME = 'running' THEN"
      " CASE WHEN " + boot + " <> '' AND " + boot + " = ? AND " + startSteady + " IS NOT NULL THEN ? - " + startSteady +
      " ELSE (? - " + c("STARTED") + ") * 86400 END"
      " ELSE CASE WHEN " + boot + " <> '' AND " + startSteady + " IS NOT NULL AND " + endSteady + " IS NOT NULL THEN " +
      endSteady + " - " + startSteady + " ELSE (" + c("ENDED") + " - " + c("STARTED") + ") * 86400 END END";
  return "SELECT S.N, S.TOTAL, " + reading.Select(kRunColumns, "R") +
         " FROM (SELECT REQUEST, COUNT(*) AS N,"
         " SUM(CASE WHEN D BETWEEN 0 AND " + Literal(kLongestAgeSeconds) + " THEN D ELSE 0 END) AS TOTAL,"
         " MAX(STARTED) AS LASTSTART"
         " FROM (SELECT REQUEST, STARTED, " + duration + " AS D FROM RUNS" + (oneRequest ? " WHERE REQUEST = ?" : "") +
         ") GROUP BY REQUEST HAVING MAX(STARTED) >= ?) AS S"
         " JOIN RUNS AS R ON R.REQUEST = S.REQUEST AND R.STARTED = S.LASTSTART"
         " ORDER BY R.REQUEST, R.RUNKEY";
}

std::vector<TDriverParameter> NowParams(const TMoment& now) {
  return {Param(now.steady.boot.empty() ? std::string("-") : now.steady.boot), Param(now.steady.seconds),
          Param(now.utc)};
}

std::vector<TRequestSummary> ReadSummaries(const TDriverResult& result, const TMoment& now) {
  std::vector<TRequestSummary> summaries;
  for (const auto& row : result.rows) {
    TRunRecord last = ReadRun(row, 2, now);
    // Two runs of one request that started at the same moment: the first by key stands.
    if (!summaries.empty() && summaries.back().request == last.request) continue;
    TRequestSummary s;
    s.request = last.request;
    s.runs = static_cast<int>(WholeOf(row[0], 0, INT32_MAX).value_or(0));
    s.totalSeconds = NumberOf(row[1]).value_or(0);
    s.last = std::move(last);
    summaries.push_back(std::move(s));
  }
  return summaries;
}

}  // namespace

std::vector<TRequestSummary> TStateStore::Summaries(platform::TUtcDateTime since, const TMoment& now) {
  std::vector<TDriverParameter> params = NowParams(now);
  params.push_back(Param(since));
  return ReadSummaries(
      Run(*session_, path_, SummaryStatement(TReading(version_, LocalOffsetDays()), false), std::move(params)), now);
}

std::optional<TRequestSummary> TStateStore::SummaryOf(std::int64_t request, const TMoment& now) {
  std::vector<TDriverParameter> params = NowParams(now);
  params.push_back(Param(request));
  params.push_back(Param(0.0));
  std::vector<TRequestSummary> found = ReadSummaries(
      Run(*session_, path_, SummaryStatement(TReading(version_, LocalOffsetDays()), true), std::move(params)), now);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

}  // namespace qar::state
