#include "state/state_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "data/driver_session.h"
#include "platform/module.h"
#include "platform/process.h"
#include "scratch_database.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#endif

namespace qar::state {
namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr platform::TDateTime kT0 = 46000.5;  // a day at noon

class StateStoreTest : public ::testing::Test {
 protected:
  static TRunRecord Run(const std::string& key, std::int64_t request, double startSec, double endSec,
                        TRunEnd end, int code = 0) {
      TRunRecord r;
    std::tie(r.key, r.request, r.end, r.code, r.agentPid) = std::tuple(key, request, end, code, 42);
    r.started = kT0 + startSec * kSecond;
    r.ended = end == TRunEnd::kRunning ? 0 : kT0 + endSec * kSecond;
    if (end != TRunEnd::kRunning) r.leftPending = end == TRunEnd::kExited && code == 0;
    return r;
  }
  static TAgentRecord Agent(const std::string& instance, double pollSec) {
    TAgentRecord a;
    a.instance = instance;
    a.pid = 42;
    a.started = kT0;
    a.lastPoll = kT0 + pollSec * kSecond;
    return a;
  }

  // Statements straight on the file, as any member of the installation's group may run them.
  TDriverResult Sql(const std::string& statement, std::vector<Variant> values = {}) {
    if (!raw_) raw_ = OpenEmbeddedSqlite(platform::HostFileName(path_));
    std::vector<TDriverParameter> parameters;
    for (Variant& value : values) parameters.push_back({}), parameters.back().value = std::move(value);
    return raw_->Execute(statement, parameters, std::nullopt);
  }

  // The store names the file to the driver itself, as the driver opens it.
  const ::qar::testing::TScratchDatabase database_{"state.db"};
  const std::string& path_ = database_.File();
  std::unique_ptr<TDriverSession> raw_;
};

// Runs written at start and again at their end count once; a request's summary gives
// the number of runs, the total time (a running one up to now) and the latest outcome;
// `since` keeps requests whose latest run started from then on.
TEST_F(StateStoreTest, SummariesCountRunsOnceAndKeepTheLatestOutcome) {
  TStateStore store = TStateStore::OpenForAgent(path_);
  store.Write({Agent("a", 0), {Run("a/1", 7, 0, 0, TRunEnd::kRunning), Run("a/2", 8, 0, 0, TRunEnd::kRunning)}});
  store.Write({Agent("a", 10), {Run("a/1", 7, 0, 4, TRunEnd::kSignalled, 9), Run("a/2", 8, 0, 5, TRunEnd::kExited, 0)}});
  store.Write({Agent("a", 20), {Run("a/3", 7, 6, 0, TRunEnd::kRunning)}});

  const platform::TDateTime now = kT0 + 16 * kSecond;
  const std::vector<TRequestSummary> all = store.Summaries(0, now);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].request, 7);
  EXPECT_EQ(all[0].runs, 2);
  EXPECT_NEAR(all[0].totalSeconds, 4 + 10, 0.01);
  EXPECT_EQ(all[0].last.key, "a/3");
  EXPECT_EQ(DescribeRunEnd(all[0].last), "running");
  EXPECT_FALSE(all[0].last.leftPending.has_value());
  EXPECT_EQ(all[1].runs, 1);
  EXPECT_EQ(all[1].last.leftPending, true);

  const std::vector<TRequestSummary> recent = store.Summaries(kT0 + 3 * kSecond, now);
  ASSERT_EQ(recent.size(), 1u);
  EXPECT_EQ(recent[0].request, 7);

  const std::vector<TRunRecord> runs = store.RunsOfRequest(7, now);
  ASSERT_EQ(runs.size(), 2u);
#ifdef _WIN32
  EXPECT_EQ(DescribeRunEnd(runs[0]), "signal 9");
#else
  EXPECT_EQ(DescribeRunEnd(runs[0]), "signal 9 (SIGKILL)");
#endif
  EXPECT_EQ(runs[0].leftPending, false);
  EXPECT_NEAR(runs[1].durationSeconds.value_or(-1), 10, 0.01);
  EXPECT_EQ(store.SummaryOf(8, now)->runs, 1);
  EXPECT_FALSE(store.SummaryOf(9, now).has_value());

  EXPECT_EQ(store.RemoveRunsBefore(kT0 + 1 * kSecond), 2);
  EXPECT_EQ(store.RunsOfRequest(7, now).size(), 1u);
}

// An agent's row is replaced at every write and gone once it is removed; the poll age is
// measured against the reader's clock. A reader never creates the store nor writes it; the
// agent's file is readable and writable by the installation's group whatever the umask.
TEST_F(StateStoreTest, AgentRowsArePublishedAndRemovedAndReadersNeverCreateOrWrite) {
  try {
    TStateStore::OpenForReading(path_);
    FAIL() << "a missing store opened";
  } catch (const EStateStore& error) {
    EXPECT_TRUE(error.Missing()) << error.what();
  }
  EXPECT_FALSE(std::filesystem::exists(platform::ToNativePath(path_)));
  TStateStore store = TStateStore::OpenForAgent(path_);
  store.Write({Agent("a", 0), {}});
  TAgentRecord b = Agent("b", 0);
  b.request = "17";
  b.workerPid = 99;
  store.Write({b, {}});
  store.Write({Agent("a", 5), {}});

  TStateStore reader = TStateStore::OpenForReading(path_);
  std::vector<TAgentRecord> agents = reader.Agents(kT0 + 45 * kSecond);
  ASSERT_EQ(agents.size(), 2u);
  const TAgentRecord& seenB = agents[0].instance == "b" ? agents[0] : agents[1];
  EXPECT_NEAR((agents[0].instance == "a" ? agents[0] : agents[1]).pollAgeSeconds.value_or(-1), 40, 0.01);
  EXPECT_EQ(seenB.request, "17");
  EXPECT_EQ(seenB.workerPid, 99u);

  store.RemoveAgent("b");
  agents = reader.Agents(kT0);
  ASSERT_EQ(agents.size(), 1u);
  EXPECT_EQ(agents[0].instance, "a");
  EXPECT_THROW(reader.Write({Agent("a", 0), {}}), EStateStore);
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
#endif
}

// An agent runs while its own process does: a record whose pid now names another
// process (or none) is not running.
TEST_F(StateStoreTest, AgentRunsOnlyAsTheSameProcess) {
  TAgentRecord self = Agent(platform::ProcessInstance(platform::CurrentProcessId()), 0);
  self.pid = platform::CurrentProcessId();
  EXPECT_TRUE(AgentProcessRuns(self));
  TAgentRecord reused = self;
  reused.instance = std::to_string(self.pid) + "@1@" + "another-boot";
  EXPECT_FALSE(AgentProcessRuns(reused));
  reused.instance.clear();
  EXPECT_FALSE(AgentProcessRuns(reused));
}

// A store written by the first agents (no layout version, local times) keeps its rows
// when an agent of this version opens it: the times become UTC with the machine's offset,
// the new columns take their defaults, the run's agent comes from its key, and a second
// open changes nothing; a reader reads it as it is before. A store of layout 1 gains the
// status page's indexes. A later layout is never written, and read unless marked unreadable.
TEST_F(StateStoreTest, AStoreOfTheFirstLayoutIsBroughtForwardOnce) {
#ifndef _WIN32
  // Three hours west of UTC, so that the conversion shows (Windows: the machine's zone).
  struct TZone {
    std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
    TZone() { ::setenv("TZ", "BRT3", 1), ::tzset(); }
    ~TZone() { saved.empty() ? ::unsetenv("TZ") : ::setenv("TZ", saved.c_str(), 1), ::tzset(); }
  } zone;
  ASSERT_EQ(platform::LocalOffsetSeconds(), -3 * 3600);
#endif
  for (const char* statement : {
           "CREATE TABLE AGENTS (INSTANCE TEXT PRIMARY KEY, PID INTEGER NOT NULL, USERNAME TEXT NOT NULL,"
           " EXE TEXT NOT NULL, STARTED REAL NOT NULL, LASTPOLL REAL NOT NULL, LASTERROR TEXT NOT NULL,"
           " LASTERRORAT REAL NOT NULL, REQUEST TEXT NOT NULL, REQUESTSINCE REAL NOT NULL, WORKERPID INTEGER NOT NULL)",
           "CREATE TABLE RUNS (RUNKEY TEXT PRIMARY KEY, REQUEST INTEGER NOT NULL, STARTED REAL NOT NULL,"
           " ENDED REAL NOT NULL, OUTCOME TEXT NOT NULL, CODE INTEGER NOT NULL, LEFTPENDING INTEGER,"
           " OUTPUTFILE TEXT NOT NULL, NOTE TEXT NOT NULL, AGENTPID INTEGER NOT NULL, AGENTUSER TEXT NOT NULL,"
           " AGENTEXE TEXT NOT NULL, WORKERPID INTEGER NOT NULL)",
           "CREATE INDEX RUNS_BY_REQUEST ON RUNS (REQUEST, STARTED)", "CREATE INDEX RUNS_BY_START ON RUNS (STARTED)"})
    Sql(statement);
  Sql("INSERT INTO AGENTS VALUES ('i@1', 7, 'ana', 'QarSnc.exe', ?, ?, '', 0, '17', 0, 9)", {kT0, kT0 + 60 * kSecond});
  Sql("INSERT INTO RUNS VALUES ('i@1/1', 17, ?, ?, 'exit', 3, 1, '', '', 7, 'ana', 'QarSnc.exe', 9)",
      {kT0, kT0 + 90 * kSecond});
  raw_.reset();

  const double utc = kT0 - platform::LocalOffsetSeconds() * kSecond;
  for (int open = 0; open < 3; ++open) {  // read as it is, then brought forward, then opened again
    TStateStore store = open == 0 ? TStateStore::OpenForReading(path_) : TStateStore::OpenForAgent(path_);
    EXPECT_EQ(store.SchemaVersion(), open == 0 ? 0 : kSchemaVersion);
    const std::vector<TAgentRecord> agents = store.Agents(utc + 70 * kSecond);
    ASSERT_EQ(agents.size(), 1u);
    EXPECT_EQ(std::tuple(agents[0].role, agents[0].lastErrorAt), std::tuple(TAgentRole::kDispatching, 0.0));
    EXPECT_NEAR(agents[0].started, utc, 1e-9);
    EXPECT_NEAR(agents[0].pollAgeSeconds.value_or(-1), 10, 0.01);
    const std::vector<TRunRecord> runs = store.RunsOfRequest(17, utc);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(std::tuple(runs[0].agentInstance, runs[0].end, runs[0].code),
              std::tuple(open == 0 ? "" : "i@1", TRunEnd::kExited, 3));
    EXPECT_NEAR(runs[0].ended, utc + 90 * kSecond, 1e-9);
    EXPECT_NEAR(store.SummaryOf(17, utc).value_or(TRequestSummary{}).totalSeconds, 90, 0.01);
  }

  Sql("DROP INDEX RUNS_BY_OUTCOME");
  Sql("PRAGMA user_version = 1");
  EXPECT_EQ(TStateStore::OpenForAgent(path_).SchemaVersion(), kSchemaVersion);
  EXPECT_EQ(Sql("SELECT COUNT(*) FROM sqlite_master WHERE name = 'RUNS_BY_OUTCOME'").rows.at(0).at(0).AsInt64(), 1);

  const auto refusedAsNewer = [](const std::function<void()>& open) {
    try {
      open();
    } catch (const EStateStore& error) {
      return error.Newer();
    }
    return false;
  };
  Sql("PRAGMA user_version = " + std::to_string(kSchemaVersion + 1));
  EXPECT_TRUE(refusedAsNewer([&] { TStateStore::OpenForAgent(path_); }));
  EXPECT_EQ(TStateStore::OpenForReading(path_).Agents(kT0).size(), 1u);
  Sql("UPDATE META SET VALUE = ? WHERE NAME = 'compatible'", {Variant(std::int64_t{kSchemaVersion + 1})});
  EXPECT_TRUE(refusedAsNewer([&] { TStateStore::OpenForReading(path_); }));
}

// Whatever a member of the group writes into the rows, the readers answer: numbers out of
// range, infinities, texts where numbers belong read as not known, and no age is fresh
// that is not. Ages come from the steady stamps when they are of the reader's boot, so a
// wall clock set back an hour changes nothing; a negative steady age is not known.
TEST_F(StateStoreTest, ReadersSurviveAnyStoredValueAndAgeOnTheSteadyClock) {
  TStateStore store = TStateStore::OpenForAgent(path_);
  TAgentRecord steady = Agent("steady", 0);
  std::tie(steady.pollSteady, steady.boot) = std::tuple(1000.0, "boot-1");
  store.Write({steady, {Run("r/1", 7, 0, 0, TRunEnd::kRunning), Run("r/2", 7, 86400, 0, TRunEnd::kRunning)}});
  Sql("INSERT INTO AGENTS (INSTANCE, PID, USERNAME, EXE, STARTED, LASTPOLL, LASTERROR, LASTERRORAT, REQUEST, REQUESTSINCE,"
      " WORKERPID, POLLSTEADY, BOOTID, ROLE) VALUES ('odd', -5, '', '', 1e300, 'abc', '', 9e999, '', -1e300, 1e11, 5000,"
      " 'boot-1', 'chief')");
  Sql("INSERT INTO RUNS (RUNKEY, REQUEST, STARTED, ENDED, OUTCOME, CODE, OUTPUTFILE, NOTE, AGENTPID, AGENTUSER, AGENTEXE,"
      " WORKERPID, STARTSTEADY, ENDSTEADY, BOOTID) VALUES ('odd/1', 'x', 1e300, 'abc', 'exit', 1e20, '', '', -1, '', '',"
      " 4294967296, 10, 5, 'boot-1')");
  Sql("UPDATE RUNS SET STARTSTEADY = 9e999 WHERE RUNKEY = 'r/1'");

  const TMoment setBack(kT0 - 3600 * kSecond, {1030.0, "boot-1"});
  TStateStore reader = TStateStore::OpenForReading(path_);
  for (const TAgentRecord& a : reader.Agents(setBack)) {
    if (a.instance == "steady") {
      EXPECT_NEAR(a.pollAgeSeconds.value_or(-1), 30, 0.01);
      continue;
    }
    EXPECT_EQ(std::tuple(a.pid, a.workerPid, a.started, a.lastPoll, a.lastErrorAt, a.requestSince, a.role),
              std::tuple(0u, 0u, 0.0, 0.0, 0.0, 0.0, TAgentRole::kUnknown));
    EXPECT_FALSE(a.pollAgeSeconds.has_value());  // 5000 s of steady clock is ahead of the reader
  }
  for (const TRunRecord& r : reader.RecentRuns(10, setBack)) {
    EXPECT_FALSE(r.durationSeconds.has_value()) << r.key;  // an infinite stamp, negative, or started a day ahead
    if (r.key == "odd/1")
      EXPECT_EQ(std::tuple(r.request, r.started, r.ended, r.end, r.agentPid, r.workerPid),
                std::tuple(std::int64_t{0}, 0.0, 0.0, TRunEnd::kUnknown, 0u, 0u));
  }
  for (const TRequestSummary& s : reader.Summaries(0, setBack)) EXPECT_EQ(s.totalSeconds, 0) << s.request;
}

// Counters grow inside a transaction and only with it: an uncommitted transaction
// leaves them as they were, and removing runs never lowers them.
TEST_F(StateStoreTest, CountersGrowWithTheirTransactionOnly) {
  TStateStore store = TStateStore::OpenForAgent(path_);
  store.Write({Agent("a", 0), {Run("a/1", 7, 0, 2, TRunEnd::kExited)}, {{"runs.exit", 1}, {"seconds", 2}}});
  {
    TStoreTransaction transaction(store);
    store.AddToCounter("runs.exit", 5);
  }
  store.AddToCounter("runs.exit", 1);
  EXPECT_EQ(store.RemoveRunsBefore(kT0 + 1), 1);
  EXPECT_EQ(TStateStore::OpenForReading(path_).Counters(),
            (std::map<std::string, std::int64_t>{{"runs.exit", 2}, {"seconds", 2}}));
  EXPECT_THROW(store.AddToCounter("runs.exit", -1), std::invalid_argument);
}

}  // namespace
}  // namespace qar::state
