#include "config/state_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/module.h"
#include "platform/process.h"
#include "scratch_database.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace qar::config {
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

  // The store names the file to the driver itself, as the driver opens it.
  const ::qar::testing::TScratchDatabase database_{"state.db"};
  const std::string& path_ = database_.File();
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
  EXPECT_NEAR(runs[1].durationSeconds, 10, 0.01);
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
  EXPECT_NEAR((agents[0].instance == "a" ? agents[0] : agents[1]).pollAgeSeconds, 40, 0.01);
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

}  // namespace
}  // namespace qar::config
