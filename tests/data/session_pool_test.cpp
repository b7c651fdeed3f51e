// Pooled sessions: what the pool keeps and hands out, in simulated time; then on both drivers that reach a
// SQLite file, what a session brings back.
#include "data/session_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "data/ado_connection.h"
#include "data/data_error.h"
#include "scratch_database.h"

namespace qar {
namespace {

// A session that says what the test tells it to, and counts the live ones.
struct FakeState {
  std::atomic<int> live{0};
  std::atomic<bool> clean{true};
  std::atomic<bool> alive{true};
};

class FakeSession : public TDriverSession {
 public:
  explicit FakeSession(std::shared_ptr<FakeState> state) : state_(std::move(state)) { ++state_->live; }
  ~FakeSession() override { --state_->live; }
  std::string DbmsName() override { return "Fake"; }
  TDriverResult Execute(const std::string&, std::vector<TDriverParameter>&, std::optional<std::size_t>) override {
    return {};
  }
  TDriverResult ExecuteProcedure(const std::string&, std::vector<TDriverParameter>&) override { return {}; }
  void BeginTransaction() override {}
  void Commit() override {}
  void Rollback() override {}
  bool ResetForPool() noexcept override { return state_->clean; }
  bool Alive() noexcept override { return state_->alive; }

 private:
  std::shared_ptr<FakeState> state_;
};

class SessionPoolTest : public ::testing::Test {
 protected:
  std::unique_ptr<TConnectionObject> Object(const std::string& connectionString = "DSN=Loja") {
    auto object = std::make_unique<TConnectionObject>();
    object->SetSessionFactory([state = state](const std::string&) { return std::make_unique<FakeSession>(state); });
    object->SetSessionPool(pool);
    object->SetConnectionString(connectionString);
    return object;
  }

  std::shared_ptr<FakeState> state = std::make_shared<FakeState>();
  TSessionPoolSettings settings{true, 2, std::chrono::seconds(60)};
  platform::SimulatedClock clock{platform::EncodeDateTime({2026, 12, 7, 9, 0, 0, 0})};
  std::shared_ptr<TSessionPool> pool = std::make_shared<TSessionPool>(clock, [this] { return settings; });
};

TEST_F(SessionPoolTest, IdleSessionsAreBoundedPerStringAndClosedAfterTheIdleTime) {
  std::vector<std::unique_ptr<TConnectionObject>> objects;
  for (int i = 0; i < 3; ++i) objects.push_back(Object());
  for (auto& object : objects) object->Open();
  auto other = Object("DSN=Loja;UID=outro");  // another string is another key, credentials included
  other->Open();
  other->Close();
  for (auto& object : objects) object->Close();
  EXPECT_EQ(pool->IdleCount(), 3u) << "two for the first string (the oldest closed), one for the other";
  EXPECT_EQ(state->live, 3);

  clock.Advance(std::chrono::seconds(59));
  objects[0]->Open();  // takes the most recently closed one; nothing has expired yet
  EXPECT_EQ(state->live, 3);
  objects[0]->Close();
  EXPECT_EQ(pool->IdleCount(), 3u);
  clock.Advance(std::chrono::seconds(1));  // 60 s for all but the one just returned
  objects[1]->Open();
  EXPECT_EQ(std::pair(pool->IdleCount(), state->live.load()), std::pair(std::size_t{0}, 1));
  objects[1]->Close();
  pool->Clear();
  EXPECT_EQ(state->live, 0);
}

// Each row: what is said of the session or the string, and whether a second open reuses the first session.
TEST_F(SessionPoolTest, OnlyCleanLiveSessionsOfPoolableStringsComeBack) {
  struct Case {
    const char* name;
    std::string connectionString;
    bool enabled, clean, alive, reused;
  } cases[] = {
      {"pooled", "DSN=Loja", true, true, true, true},
      {"every OLE DB service", "DSN=Loja;OLE DB Services=-1", true, true, true, true},
      {"settings say no pooling", "DSN=Loja", false, true, true, false},
      {"OLE DB services without pooling", "DSN=Loja;OLE DB Services=-2", true, true, true, false},
      {"no OLE DB services", "DSN=Loja;OLE DB Services = 0", true, true, true, false},
      {"Pooling=False", "DSN=Loja;Pooling=False", true, true, true, false},
      {"not clean after the rollback", "DSN=Loja", true, false, true, false},
      {"dead on reuse", "DSN=Loja", true, true, false, false},
  };
  for (const Case& c : cases) {
    settings.enabled = c.enabled;
    pool->SetSettingsSource([this] { return settings; });
    state->clean = c.clean;
    state->alive = c.alive;
    auto object = Object(c.connectionString);
    object->Open();
    const std::int64_t first = object->SessionId();
    object->Close();
    EXPECT_FALSE(object->Connected()) << c.name;
    object->Open();
    EXPECT_EQ(object->SessionId() == first, c.reused) << c.name;
    EXPECT_EQ(state->live, 1) << c.name << ": a session not reused is closed";
    object->Close();
    pool->Clear();
  }
}

// Threads opening and closing on one string: a session is never in two hands at once.
TEST_F(SessionPoolTest, TwoThreadsNeverShareASession) {
  settings.maxIdlePerKey = 4;
  std::mutex mutex;
  std::set<std::int64_t> inUse;
  std::atomic<int> shared{0};
  const auto work = [&] {
    auto object = Object();
    for (int i = 0; i < 2000; ++i) {
      object->Open();
      {
        std::lock_guard lock(mutex);
        if (!inUse.insert(object->SessionId()).second) ++shared;
      }
      {
        std::lock_guard lock(mutex);
        inUse.erase(object->SessionId());
      }
      object->Close();
    }
  };
  std::thread a(work), b(work), c(work);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(shared, 0);
  EXPECT_LE(state->live, 4);
}

// The same cases on both drivers that reach a SQLite file, each on a pool of its own.
class PooledSqliteTest : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override {
    a.Close();
    b.Close();
    pool->Clear();
    std::remove((file_ + ".new").c_str());
  }
  void Connect(TADOConnection& connection) {
    connection.ConnectionObject()->SetSessionPool(pool);
    connection.SetConnectionString(GetParam() + database_.DriverFile());
  }
  static std::string Value(TADOConnection& connection, const std::string& select) {
    std::vector<TDriverParameter> none;
    const TDriverResult result = connection.ConnectionObject()->Execute(select, none);
    return result.rows.empty() ? "" : result.rows[0][0].AsString();
  }
  static std::int64_t Id(TADOConnection& connection) { return connection.ConnectionObject()->SessionId(); }

  const ::qar::testing::TScratchDatabase database_{GetParam()[0] == 'P' ? "pooled_embedded.db" : "pooled_odbc.db"};
  const std::string& file_ = database_.File();
  platform::SimulatedClock clock{platform::EncodeDateTime({2026, 12, 7, 9, 0, 0, 0})};
  std::shared_ptr<TSessionPool> pool = std::make_shared<TSessionPool>(clock);
  TADOConnection a, b;
};

// Two callers' registrations interleaved, twice, the second time on each other's sessions: a kept
// statement runs with the number of the session it belongs to, and each caller removes only its row.
TEST_P(PooledSqliteTest, AKeptStatementRunsWithItsOwnSessionNumber) {
  Connect(a);
  Connect(b);
  a.Execute("CREATE TABLE S (NRSID INTEGER)");
  a.Close();
  std::int64_t before[2] = {};
  for (int round = 0; round < 2; ++round) {
    TADOConnection* callers[] = {&a, &b};
    for (TADOConnection* caller : callers) caller->Execute("INSERT INTO S (NRSID) VALUES (@@SPID)");
    // A text this round has not prepared before carries the number the session has now.
    const std::string own = "SELECT COUNT(*) FROM S WHERE NRSID = @@SPID AND " + std::to_string(round) + " = " +
                            std::to_string(round);
    for (int i = 0; i < 2; ++i) {
      TADOConnection& caller = *callers[i];
      EXPECT_EQ(Value(caller, own), "1") << round;
      EXPECT_EQ(Value(caller, "SELECT COUNT(*) FROM S WHERE NRSID = " + std::to_string(Id(caller))), "1") << round;
      EXPECT_EQ(caller.Execute("DELETE FROM S WHERE NRSID = @@SPID"), 1) << round;
      EXPECT_EQ(Value(caller, "SELECT COUNT(*) FROM S"), std::to_string(1 - i)) << round << ": the other's row stays";
    }
    if (round == 1) {
      EXPECT_EQ(Id(a), before[1]) << "a took b's session, with its number";
      EXPECT_EQ(Id(b), before[0]);
    }
    before[0] = Id(a);
    before[1] = Id(b);
    a.Close();
    b.Close();  // the most recently closed is taken first: a takes b's
  }
}

// Left open by the caller: a transaction is rolled back and the session comes back; a temporary
// table, an attached database or a PRAGMA keeps its session from being pooled.
TEST_P(PooledSqliteTest, APooledSessionComesBackClean) {
  Connect(a);
  a.Execute("CREATE TABLE T (A INTEGER)");
  struct Case {
    const char* name;
    std::function<void()> leave;
    bool reused;
  } cases[] = {
      {"transaction of the connection", [&] { a.BeginTrans(); a.Execute("INSERT INTO T VALUES (1)"); }, true},
      {"transaction begun by a statement", [&] { a.Execute("BEGIN"); a.Execute("INSERT INTO T VALUES (2)"); }, true},
      {"temporary table", [&] { a.Execute("CREATE TEMP TABLE X (A INTEGER)"); }, false},
      {"attached database", [&] { a.Execute("ATTACH DATABASE ':memory:' AS M"); }, false},
      {"a setting of the session", [&] { a.Execute("PRAGMA cache_size = 100"); }, false},
  };
  for (const Case& c : cases) {
    c.leave();
    const std::int64_t first = Id(a);
    a.Close();
    a.Open();
    EXPECT_EQ(Id(a) == first, c.reused) << c.name;
    EXPECT_EQ(Value(a, "SELECT COUNT(*) FROM T"), "0") << c.name;
    EXPECT_EQ(Value(a, "SELECT COUNT(*) FROM temp.sqlite_master"), "0") << c.name;
    a.BeginTrans();  // none is open
    a.RollbackTrans();
  }
}

// A file removed, or replaced by another, under a pooled session: the next open connects to the file
// the name has now.
TEST_P(PooledSqliteTest, ASessionOfARemovedOrReplacedFileIsNeverHandedOut) {
  Connect(a);
  for (const bool replace : {false, true}) {
    a.Execute("CREATE TABLE IF NOT EXISTS T (A INTEGER)");
    a.Execute("INSERT INTO T VALUES (1)");
    const std::int64_t first = Id(a);
    a.Close();
    a.Open();  // handed out and back with no statement run: the next take still looks at the file
    a.Close();
    ASSERT_EQ(pool->IdleCount(), 1u);
    if (replace) {
      std::ofstream(file_ + ".new").close();  // an empty file is an empty database
      std::error_code error;  // replaces the file on every system
      std::filesystem::rename(file_ + ".new", file_, error);
      ASSERT_FALSE(error) << error.message();
    } else {
      ASSERT_EQ(std::remove(file_.c_str()), 0);
    }
    a.Open();
    EXPECT_NE(Id(a), first) << replace;
    EXPECT_EQ(pool->IdleCount(), 0u) << replace;
    EXPECT_EQ(Value(a, "SELECT COUNT(*) FROM sqlite_master"), "0") << replace << ": the new file";
  }
  // An open session notices too: its next statement fails instead of writing where nobody reads.
  a.Execute("CREATE TABLE T (A INTEGER)");
  ASSERT_EQ(std::remove(file_.c_str()), 0);
  try {
    a.Execute("INSERT INTO T VALUES (1)");
    ADD_FAILURE() << "a statement ran on the removed file";
  } catch (const EDataError& error) {
    EXPECT_NE(std::string(error.what()).find("was removed or replaced while it was open"), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, PooledSqliteTest, ::testing::Values("Provider=SQLite;Data Source=", "Driver=SQLite3;Database="),
                         [](const auto& info) { return info.param[0] == 'P' ? "embedded" : "odbc"; });

}  // namespace
}  // namespace qar
