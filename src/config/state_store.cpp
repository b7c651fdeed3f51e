#include "config/state_store.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "config/state_store_system.h"
#include "data/data_error.h"
#include "data/driver_session.h"
#include "platform/process.h"

namespace qar::config {

namespace {

constexpr double kSecondsPerDay = 86400.0;

// Plain SQLite SQL: the store is never a server's database, so no dialect applies.
// Times are the system's date-times (days since 1899-12-30, local), as REAL.
constexpr const char* kSchema[] = {
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

constexpr const char* kAgentColumns =
    "INSTANCE, PID, USERNAME, EXE, STARTED, LASTPOLL, LASTERROR, LASTERRORAT, REQUEST, REQUESTSINCE, WORKERPID";
constexpr const char* kRunColumns =
    "RUNKEY, REQUEST, STARTED, ENDED, OUTCOME, CODE, LEFTPENDING, OUTPUTFILE, NOTE, AGENTPID, AGENTUSER,"
    " AGENTEXE, WORKERPID";

TDriverParameter Param(Variant value) {
  TDriverParameter p;
  p.value = std::move(value);
  return p;
}

TRunEnd EndFromName(const std::string& name) {
  if (name == "exit") return TRunEnd::kExited;
  if (name == "signal") return TRunEnd::kSignalled;
  if (name == "unknown") return TRunEnd::kUnknown;
  if (name == "not-started") return TRunEnd::kNotStarted;
  return TRunEnd::kRunning;
}

double Seconds(platform::TDateTime from, platform::TDateTime to) {
  return std::max(0.0, (to - from) * kSecondsPerDay);
}

TAgentRecord ReadAgent(const std::vector<Variant>& row, platform::TDateTime now) {
  TAgentRecord a;
  a.instance = row[0].AsString();
  a.pid = static_cast<std::uint32_t>(row[1].AsInt64());
  a.user = row[2].AsString();
  a.exe = row[3].AsString();
  a.started = row[4].AsDouble();
  a.lastPoll = row[5].AsDouble();
  a.lastError = row[6].AsString();
  a.lastErrorAt = row[7].AsDouble();
  a.request = row[8].AsString();
  a.requestSince = row[9].AsDouble();
  a.workerPid = static_cast<std::uint32_t>(row[10].AsInt64());
  a.pollAgeSeconds = Seconds(a.lastPoll, now);
  return a;
}

// Reads the run whose columns start at `first`.
TRunRecord ReadRun(const std::vector<Variant>& row, std::size_t first, platform::TDateTime now) {
  const Variant* c = row.data() + first;
  TRunRecord r;
  r.key = c[0].AsString();
  r.request = c[1].AsInt64();
  r.started = c[2].AsDouble();
  r.ended = c[3].AsDouble();
  r.end = EndFromName(c[4].AsString());
  r.code = static_cast<int>(c[5].AsInt64());
  if (!c[6].IsNull()) r.leftPending = c[6].AsInt64() != 0;
  r.output = c[7].AsString();
  r.note = c[8].AsString();
  r.agentPid = static_cast<std::uint32_t>(c[9].AsInt64());
  r.agentUser = c[10].AsString();
  r.agentExe = c[11].AsString();
  r.workerPid = static_cast<std::uint32_t>(c[12].AsInt64());
  r.durationSeconds = Seconds(r.started, r.end == TRunEnd::kRunning ? now : r.ended);
  return r;
}

}  // namespace

bool AgentProcessRuns(const TAgentRecord& agent) {
  return !agent.instance.empty() && platform::ProcessInstance(agent.pid) == agent.instance;
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
      const std::string name = SignalName(run.code);
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

}  // namespace

TStateStore TStateStore::OpenForAgent(const std::string& path, int busyTimeoutMs) {
  std::unique_ptr<TDriverSession> session;
  try {
    PrepareStoreFile(path);
    session = OpenEmbeddedSqlite(StoreDriverPath(path), TJournalMode::kWal, std::max(0, busyTimeoutMs));
  } catch (const EDataError& error) {
    throw EStateStore("State store " + path + ": " + error.what());
  }
  TStateStore store(path, std::move(session));
  // A write a poll must cost next to nothing: with a write-ahead log a commit is not
  // flushed to disk, and a crash loses at most the last polls, never the file.
  Run(*store.session_, path, "PRAGMA journal_mode = WAL");
  Run(*store.session_, path, "PRAGMA synchronous = NORMAL");
  for (const char* statement : kSchema) Run(*store.session_, path, statement);
  return store;
}

TStateStore TStateStore::OpenForReading(const std::string& path) {
  if (!StoreFileExists(path))
    throw EStateStore("State store " + path + " does not exist: no agent of this installation has run", true);
  std::unique_ptr<TDriverSession> session;
  try {
    session = OpenEmbeddedSqliteForReading(StoreDriverPath(path));
  } catch (const EDataError& error) {
    throw EStateStore("State store " + path + ": " + error.what());
  }
  // Also where the driver opens files for writing (the ODBC driver): a reader never writes.
  Run(*session, path, "PRAGMA query_only = 1");
  return TStateStore(path, std::move(session));
}

void TStateStore::Write(const TStateUpdate& update) {
  TDriverSession& s = *session_;
  try {
    s.BeginTransaction();
  } catch (const EDataError& error) {
    throw EStateStore("State store " + path_ + ": " + error.what());
  }
  try {
    const TAgentRecord& a = update.agent;
    Run(s, path_, std::string("INSERT OR REPLACE INTO AGENTS (") + kAgentColumns + ") VALUES (?,?,?,?,?,?,?,?,?,?,?)",
        {Param(a.instance), Param(static_cast<std::int64_t>(a.pid)), Param(a.user), Param(a.exe),
         Param(a.started), Param(a.lastPoll), Param(a.lastError), Param(a.lastErrorAt), Param(a.request),
         Param(a.requestSince), Param(static_cast<std::int64_t>(a.workerPid))});
    for (const TRunRecord& r : update.runs) {
      Run(s, path_, std::string("INSERT OR REPLACE INTO RUNS (") + kRunColumns + ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)",
          {Param(r.key), Param(r.request), Param(r.started), Param(r.ended), Param(RunEndName(r.end)),
           Param(static_cast<std::int64_t>(r.code)),
           r.leftPending ? Param(static_cast<std::int64_t>(*r.leftPending ? 1 : 0)) : Param(Variant::Null()),
           Param(r.output), Param(r.note), Param(static_cast<std::int64_t>(r.agentPid)), Param(r.agentUser),
           Param(r.agentExe), Param(static_cast<std::int64_t>(r.workerPid))});
    }
    s.Commit();
  } catch (const EDataError& error) {
    try { s.Rollback(); } catch (const EDataError&) {}  // the failure below says what matters
    throw EStateStore("State store " + path_ + ": " + error.what());
  } catch (...) {
    try { s.Rollback(); } catch (const EDataError&) {}
    throw;
  }
}

bool TStateStore::Touch(const std::string& instance, platform::TDateTime lastPoll) {
  return Run(*session_, path_, "UPDATE AGENTS SET LASTPOLL = ? WHERE INSTANCE = ?", {Param(lastPoll), Param(instance)})
             .rowsAffected > 0;
}

void TStateStore::RemoveAgent(const std::string& instance) {
  Run(*session_, path_, "DELETE FROM AGENTS WHERE INSTANCE = ?", {Param(instance)});
}

std::int64_t TStateStore::RemoveRunsBefore(platform::TDateTime before) {
  return std::max<std::int64_t>(0, Run(*session_, path_, "DELETE FROM RUNS WHERE STARTED < ?", {Param(before)}).rowsAffected);
}

std::vector<TAgentRecord> TStateStore::Agents(platform::TDateTime now) {
  std::vector<TAgentRecord> agents;
  for (const auto& row : Run(*session_, path_, std::string("SELECT ") + kAgentColumns + " FROM AGENTS ORDER BY STARTED, PID").rows)
    agents.push_back(ReadAgent(row, now));
  return agents;
}

std::vector<TRunRecord> TStateStore::RunsOfRequest(std::int64_t request, platform::TDateTime now) {
  std::vector<TRunRecord> runs;
  for (const auto& row : Run(*session_, path_,
                             std::string("SELECT ") + kRunColumns + " FROM RUNS WHERE REQUEST = ? ORDER BY STARTED, RUNKEY",
                             {Param(request)}).rows)
    runs.push_back(ReadRun(row, 0, now));
  return runs;
}

std::vector<TRunRecord> TStateStore::RecentRuns(std::size_t limit, platform::TDateTime now) {
  std::vector<TRunRecord> runs;
  for (const auto& row : Run(*session_, path_,
                             std::string("SELECT ") + kRunColumns + " FROM RUNS ORDER BY STARTED DESC, RUNKEY DESC LIMIT ?",
                             {Param(static_cast<std::int64_t>(limit))}).rows)
    runs.push_back(ReadRun(row, 0, now));
  return runs;
}

namespace {

// Per request: how many runs, their total time (a running one counted up to `now`)
// and the latest run's columns. Requests whose latest run started before the first
// parameter are left out.
std::string SummaryStatement(bool oneRequest) {
  return std::string(
             "SELECT S.N, S.TOTAL, R.RUNKEY, R.REQUEST, R.STARTED, R.ENDED, R.OUTCOME, R.CODE, R.LEFTPENDING,"
             " R.OUTPUTFILE, R.NOTE, R.AGENTPID, R.AGENTUSER, R.AGENTEXE, R.WORKERPID FROM"
             " (SELECT REQUEST, COUNT(*) AS N,"
             "  SUM(CASE WHEN OUTCOME = 'running' THEN MAX(? - STARTED, 0) ELSE MAX(ENDED - STARTED, 0) END) AS TOTAL,"
             "  MAX(STARTED) AS LASTSTART FROM RUNS") +
         (oneRequest ? " WHERE REQUEST = ?" : "") +
         " GROUP BY REQUEST HAVING MAX(STARTED) >= ?) AS S"
         " JOIN RUNS AS R ON R.REQUEST = S.REQUEST AND R.STARTED = S.LASTSTART"
         " ORDER BY R.REQUEST, R.RUNKEY";
}

std::vector<TRequestSummary> ReadSummaries(const TDriverResult& result, platform::TDateTime now) {
  std::vector<TRequestSummary> summaries;
  for (const auto& row : result.rows) {
    TRunRecord last = ReadRun(row, 2, now);
    // Two runs of one request that started at the same moment: the first by key stands.
    if (!summaries.empty() && summaries.back().request == last.request) continue;
    TRequestSummary s;
    s.request = last.request;
    s.runs = static_cast<int>(row[0].AsInt64());
    s.totalSeconds = row[1].AsDouble() * kSecondsPerDay;
    s.last = std::move(last);
    summaries.push_back(std::move(s));
  }
  return summaries;
}

}  // namespace

std::vector<TRequestSummary> TStateStore::Summaries(platform::TDateTime since, platform::TDateTime now) {
  return ReadSummaries(Run(*session_, path_, SummaryStatement(false), {Param(now), Param(since)}), now);
}

std::optional<TRequestSummary> TStateStore::SummaryOf(std::int64_t request, platform::TDateTime now) {
  std::vector<TRequestSummary> found =
      ReadSummaries(Run(*session_, path_, SummaryStatement(true), {Param(now), Param(request), Param(0.0)}), now);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

}  // namespace qar::config
