#include "agent/Cli_Sync10000.h"
#include "agent/agent_texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "agent/agent_state.h"
#include "data/connection_string.h"
#include "platform/module.h"
#include "scratch_database.h"

namespace qar::agent {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
constexpr platform::TDateTime kStart = 46361.5;  // 5 December 2026, noon
constexpr const char* kRequest = R"({"CDFILIAL":"001","CDCAIXA":"02"})";
constexpr auto npos = std::string::npos;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "no error";
}

// The form on a real SQLite database, with the workers and the clock simulated (the
// case is its own TWorkers): the worker of the last start "runs" for workerLife_ of
// simulated time; a worker an ended agent left runs while adoptedAlive_.
class TfrmSyncTest : public ::testing::Test, public TWorkers {
 protected:
  void SetUp() override {
    connectionString_ = "Provider=SQLite;Data Source=" + database_.DriverFile();
    clock_.OnSleep([this](std::chrono::milliseconds duration) {
      elapsed_ += duration;
      if (workerAlive_ && elapsed_ >= workerEnds_) workerAlive_ = false;
      sleeps_.push_back({duration, WorkerBusy.load()});
      if (duration != 10s) return;
      if (auto at = onPass_.find(++passes_); at != onPass_.end() && at->second) std::exchange(at->second, nullptr)();
    });
    AgentServices& services = services_;
    services.clock = &clock_;
    services.workers = std::shared_ptr<TWorkers>(this, [](TWorkers*) {});
    services.maxParams = [this](const std::string&) { return maxParams_; };
    services.startWatchdog = [this] { ++watchdogStarts_; };
    services.connectionString = [this] { return connectionString_; };
    services.log = [this](const std::string& line) { logs_.push_back(line); };
    services.report = [this](const std::string& line) { reports_.push_back(line); };
    services.supervising = [this](const std::string& id, std::uint32_t) { published_.push_back(id); };
    services.agentDirectory = "agentdir";
    services.recordRun = [this](const state::TRunRecord& run) { runs_.push_back(run); };
    services.dispatch = [this](std::string&) { return dispatching_; };
    services.role = [this](state::TAgentRole role) { roles_.push_back(role); };
    services.orphanedRuns = [this] { return std::exchange(orphans_, {}); };
    form_ = std::make_unique<TfrmSync>(services);
  }
  void TearDown() override { form_.reset(); }

  TWorkerStarted Start(const TWorkerStart& start) override {
    started_.push_back(start.params);
    startedPath_ = start.path;
    startedAt_.push_back(elapsed_.count() / 1000.0);
    if (onStart_) onStart_(start.params);
    TWorkerStarted started;
    started.result = {!startFails_, startFails_ ? 2 : 0, startFails_ ? "No such file or directory" : ""};
    if (startFails_) return started;
    workerAlive_ = workerLife_ > 0ms;
    workerEnds_ = elapsed_ + workerLife_;
    exitTold_ = false;
    started.pid = ++pid_;
    std::tie(started.instance, started.output) = std::tuple("pid@" + std::to_string(pid_), output_);
    return started;
  }
  TRunLook Look(const TWorkerRun& run, const std::vector<std::string>&) override {
    TRunLook look;
    if (run.pid != pid_ && run.pid != kAdoptedPid) return look;  // an ended agent's worker that is gone
    look.workerRuns = run.pid == pid_ ? workerAlive_ : adoptedAlive_;
    if (run.pid == pid_ && !workerAlive_ && !std::exchange(exitTold_, true)) look.exit = exit_;
    look.others = others_;
    look.strays = strays_;
    return look;
  }
  std::vector<std::string> Stop(const TWorkerRun& run) override {
    ++kills_;
    if (stopRefused_) return {"pid " + std::to_string(run.pid) + ": Operation not permitted"};
    workerAlive_ = survivesKill_-- > 0;
    if (onKill_) onKill_();
    return {};
  }

  void Sql(const std::string& text) { form_->adcVerifTab.Execute(text); }
  std::string Row(long long id) {  // status, error text, and whether the agent updated it
    TADOQuery query;
    query.SetConnection(&form_->adcVerifTab);
    query.SQL().Add("SELECT IDSTCTRLEXECREM, DSERRO, DTULTATU FROM CTRLEXECREM WHERE IDCTRLEXECREM = " +
                    std::to_string(id));
    query.Open();
    return query.FieldByName("IDSTCTRLEXECREM").AsString() + "|" + query.FieldByName("DSERRO").AsString() + "|" +
           (query.FieldByName("DTULTATU").Value().IsNull() ? "no update" : "updated");
  }
  void Request(const std::string& operation, const std::string& status = "P") {
    Sql("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM) VALUES ('PDV', 'SYNC', '" +
        operation + "', '" + status + "')");
  }
  void SetStatus(int id, const std::string& status) {
    Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = '" + status + "' WHERE IDCTRLEXECREM = " + std::to_string(id));
  }
  std::size_t Logged(const std::string& part) const {
    return std::count_if(logs_.begin(), logs_.end(), [&](const std::string& line) { return line.find(part) != npos; });
  }

  platform::SimulatedClock clock_{kStart};
  std::chrono::milliseconds elapsed_{0}, workerLife_{0}, workerEnds_{0};
  bool workerAlive_ = false, startFails_ = false, stopRefused_ = false, exitTold_ = false, adoptedAlive_ = false, dispatching_ = true;
  int survivesKill_ = 0, kills_ = 0, watchdogStarts_ = 0, passes_ = 0;
  std::uint32_t pid_ = 100;
  static constexpr std::uint32_t kAdoptedPid = 901;  // the one worker of an ended agent that still runs
  std::size_t maxParams_ = 1000;
  std::vector<std::pair<std::chrono::milliseconds, bool>> sleeps_;  // each sleep, and WorkerBusy during it
  std::map<int, std::function<void()>> onPass_;  // run at the n-th ten-second supervision pass
  std::function<void()> onKill_;
  std::function<void(const std::string&)> onStart_;
  std::optional<platform::TExitStatus> exit_;
  std::vector<TSeenProcess> others_, strays_;
  std::vector<double> startedAt_;  // seconds of the steady clock
  std::vector<state::TRunRecord> runs_, orphans_;
  std::vector<state::TAgentRole> roles_;
  AgentServices services_;
  Lines started_, logs_, reports_, published_;
  const ::qar::testing::TScratchDatabase database_{"agent.db"};  // gone after the form
  std::string startedPath_, connectionString_, output_;
  std::unique_ptr<TfrmSync> form_;
};

TEST_F(TfrmSyncTest, FormCreateCreatesTheTableStartsTheWatchdogAndHoldsTheStatementsByteForByte) {
  WorkerBusy = true;
  form_->FormCreate();
  EXPECT_EQ(watchdogStarts_, 1);
  EXPECT_FALSE(WorkerBusy.load());
  EXPECT_EQ(LastRestartTime.load(), kStart);
  Request(kRequest);  // the table exists now
  EXPECT_EQ(Row(1), "P||no update");
  EXPECT_EQ(form_->adqVerifTab.SQL().Text(),
            "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO, DSOPERACAO\r\n  FROM CTRLEXECREM\r\n"
            " WHERE IDSTCTRLEXECREM = 'P'\r\n"
            "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)\r\n");
  EXPECT_EQ(form_->adqControleTab.SQL().Text(),
            "SELECT IDCTRLEXECREM, IDSTCTRLEXECREM, TPOPERACAO\r\n  FROM CTRLEXECREM\r\n"
            " WHERE IDCTRLEXECREM = :IDCTRLEXECREM\r\n"
            "   AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)\r\n");
  EXPECT_EQ(form_->acmUpdVerifTab.CommandText(),
            "UPDATE CTRLEXECREM\r\n   SET IDSTCTRLEXECREM = 'NOK',\r\n"
            "           DSERRO = 'Cancelado pelo operador',\r\n           DTULTATU = GETDATE()\r\n"
            " WHERE IDCTRLEXECREM = :IDCTRLEXECREM");
  EXPECT_EQ(form_->acmCTRLEXECREM.CommandText(),
            "CREATE TABLE CTRLEXECREM (\r\n    IDCTRLEXECREM   INT IDENTITY PRIMARY KEY,\r\n"
            "    CDAPP           VARCHAR(16),\r\n    TPOPERACAO      VARCHAR(50),\r\n"
            "    DSOPERACAO      NVARCHAR(MAX),\r\n    IDSTCTRLEXECREM VARCHAR(3),\r\n"
            "    DSERRO          NVARCHAR(MAX),\r\n    DTINCLUSAO      DATETIME DEFAULT GETDATE(),\r\n"
            "    DTINICIO        DATETIME,\r\n    DTULTATU        DATETIME\r\n)");
  EXPECT_EQ(form_->acmUpdVerifTab.CommandTimeout() + form_->acmCTRLEXECREM.CommandTimeout(), 0);
  // A row a worker or an operator finished meanwhile is never marked over.
  EXPECT_NE(form_->acmNaoIniciado.CommandText().find(" WHERE IDCTRLEXECREM = :IDCTRLEXECREM\r\n   AND IDSTCTRLEXECREM = 'P'"), npos);
}

// A probe failing for another reason than a missing table still tries CREATE TABLE,
// whose error leaves with the watchdog running; a connect failure leaves before it.
TEST_F(TfrmSyncTest, FormCreateFailuresLeaveWithTheWatchdogStartedOnlyOnceConnected) {
  Sql("CREATE TABLE CTRLEXECREM (IDCTRLEXECREM INTEGER PRIMARY KEY)");  // no status column
  EXPECT_NE(ErrorOf([&] { form_->FormCreate(); }).find("already exists"), npos);
  EXPECT_EQ(watchdogStarts_, 1);
  EXPECT_EQ(LastRestartTime.load(), kStart);
  form_->adcVerifTab.Close();
  connectionString_ = "Provider=SQLite;Data Source=no-such-dir/x/y.db";
  EXPECT_NE(ErrorOf([&] { form_->FormCreate(); }).find("no-such-dir/x/y.db"), npos);
  connectionString_ = "Data Source=no-such-server;Initial Catalog=loja";  // read as SQL Server's
  EXPECT_NE(ErrorOf([&] { form_->FormCreate(); }), "no error");
  EXPECT_EQ(form_->adcVerifTab.ConnectionString(), "Provider=SQLOLEDB.1;" + connectionString_);
  EXPECT_EQ(watchdogStarts_, 1);
}

// "p" passes a case-insensitive SQL comparison; the agent's own check passes it over
// and it holds up no row behind it. A row that can never start is marked with the
// reason, and the queue moves on; a start that fails for a reason that may pass is
// reported through the tick and tried again.
TEST_F(TfrmSyncTest, OnlyPendingRowsOfTodayStartWithTheirParameterStringAndOnesThatNeverCanAreMarked) {
  Sql("CREATE TABLE CTRLEXECREM (IDCTRLEXECREM INTEGER PRIMARY KEY, CDAPP, TPOPERACAO, DSOPERACAO, "
      "IDSTCTRLEXECREM COLLATE NOCASE, DSERRO, DTINCLUSAO DATETIME DEFAULT (datetime('now','localtime')), "
      "DTINICIO, DTULTATU)");
  form_->FormCreate();  // the table of an earlier version gains the readers' indexes of the day
  TADOQuery indexes;
  indexes.SetConnection(&form_->adcVerifTab);
  indexes.SQL().Add("SELECT COUNT(*) AS N FROM sqlite_master WHERE name LIKE 'IXCTRLEXECREM_%'");
  indexes.Open();
  EXPECT_EQ(indexes.FieldByName("N").Value().AsInt64(), 2);
  Request(kRequest, "p");
  form_->ProcessPendingOperation();
  Sql("INSERT INTO CTRLEXECREM (DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) VALUES "
      "('y', 'P', datetime('now', 'localtime', '-1 day'))");
  maxParams_ = 18;
  Request(R"({"CDFILIAL":"0123456789"})");  // SYNC_3_0123456789__: 19 characters
  Request(R"({"CDCAIXA":"02"})");
  startFails_ = true;
  form_->ProcessPendingOperation();
  const std::string worker = std::string("agentdir") + platform::kPathDelim + "QarTab.exe";
  for (int tick = 0; tick < 2; ++tick) {
    EXPECT_EQ(ErrorOf([&] { form_->ProcessPendingOperation(); }),
              "request 4: " + worker + " cannot be started: No such file or directory; tried again at the next tick");
  }
  EXPECT_EQ(Row(3), "NOK|N\xE3o iniciado: os par\xE2metros do QarTab.exe t\xEAm 19 caracteres, acima do limite de 18 "
                    "do sistema|updated");
  EXPECT_EQ(reports_.size(), 1u);
  startFails_ = false;
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_, Lines(3, "SYNC_4__02_"));
  EXPECT_EQ(startedPath_, worker);
  // A worker gone within the first second is not supervised; the row stays "P".
  EXPECT_EQ(sleeps_, (decltype(sleeps_){{1000ms, false}}));
  EXPECT_EQ(runs_.back().end, state::TRunEnd::kUnknown);
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(Row(4), "P||no update");
  EXPECT_EQ(logs_, (Lines{std::string(texts::kDispatching), "request 4: worker started with SYNC_4__02_",
                          "request 4: worker ended: status unknown after 1 s; the row is still P: started again "
                          "in 2 s at the earliest, other requests meanwhile"}));
}

// The cancelled row cannot be marked right after its worker was stopped: it is
// marked at the next pass. The kill leaves the worker running: it is not killed again.
// The run crossed the server's midnight: the cancellation still reaches it, and its
// end still reads the row.
TEST_F(TfrmSyncTest, ARunningWorkerIsSupervisedEveryTenSecondsAndACancellationStopsItAndIsMarkedOnce) {
  form_->FormCreate();
  Request(kRequest);
  workerLife_ = 60s;
  survivesKill_ = 1;
  onPass_[2] = [this] { Sql("UPDATE CTRLEXECREM SET DTINCLUSAO = datetime('now', 'localtime', '-1 day')"); };
  onPass_[3] = [this] { SetStatus(1, "C"); };
  onKill_ = [this] {
    Sql("ALTER TABLE CTRLEXECREM RENAME TO HIDDEN");
    onPass_[4] = [this] { Sql("ALTER TABLE HIDDEN RENAME TO CTRLEXECREM"); };
  };
  form_->ProcessPendingOperation();
  EXPECT_EQ(kills_, 1);
  EXPECT_EQ(reports_.size(), 1u);
  EXPECT_EQ(Row(1), "NOK|Cancelado pelo operador|updated");
  ASSERT_EQ(sleeps_.size(), 7u);  // 1 s, then passes until the worker is gone at 60 s
  for (std::size_t i = 0; i < sleeps_.size(); ++i) EXPECT_EQ(sleeps_[i], std::pair(i ? 10000ms : 1000ms, i > 0));
  EXPECT_FALSE(WorkerBusy.load());
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(published_, (Lines{"1", "1", ""}));
  EXPECT_EQ(logs_, (Lines{"this agent dispatches the installation's requests from now on",
                          "request 1: worker started with SYNC_1_001_02_",
                          "request 1: cancelled by the operator, worker stopped, row marked NOK",
                          "request 1: worker ended: status unknown after 61 s; the row is now NOK"}));
  EXPECT_EQ(runs_.back().note, "cancelled by the operator");
}

// A run that leaves its row "P" holds that row back for a growing wait on the steady
// clock while the rows behind it start, also when the wall clock is set back an hour;
// its re-runs are logged with their count the first three times (then once an
// hour); after MaxWorkerRuns runs the row is marked. An abnormal end quotes the last
// five lines of the output, passwords masked.
TEST_F(TfrmSyncTest, ARowLeftPendingWaitsLongerEachTimeWhileOthersStart) {
  services_.maxWorkerRuns = [] { return 12; };
  form_ = std::make_unique<TfrmSync>(services_);
  form_->FormCreate();
  Request(kRequest);
  Request(R"({"CDFILIAL":"9"})");
  exit_ = platform::TExitStatus{false, 3};
  output_ = database_.File() + ".out";
  std::ofstream(output_) << "1\n2\n3\n4\nconectando Password=segredo;\n6\n7\n";
  onStart_ = [this](const std::string& params) {
    if (params == "SYNC_2_9__") SetStatus(2, "OK");
    if (started_.size() == 3) clock_.Set(clock_.Now() - 1.0 / 24);  // the wall clock an hour back
  };
  for (int tick = 0; tick < 2000 && Row(1)[0] == 'P'; ++tick) {
    form_->ProcessPendingOperation();
    clock_.Sleep(2s);
  }
  std::remove(output_.c_str());
  ASSERT_EQ(started_.size(), 13u);
  EXPECT_EQ(started_[1], "SYNC_2_9__");  // while row 1 waits
  startedAt_.erase(startedAt_.begin() + 1);
  // 2 s after the first run, doubling, at most five minutes.
  constexpr double kWaits[] = {2, 4, 8, 16, 32, 64, 128, 256, 300, 300, 300};
  for (int run = 1; run < 12; ++run) {
    const double waited = startedAt_[run] - startedAt_[run - 1] - 1;  // after its 1 s start wait
    const double wait = kWaits[run - 1];
    EXPECT_GE(waited + 0.01, wait) << run;
    if (run > 1) {
      EXPECT_LT(waited, wait + 2.5) << run;  // the next tick after it (run 1: row 2 ran)
    }
  }
  EXPECT_EQ(TfrmSync::RetryWait(1000), 300s);  // no overflow on the way
  EXPECT_EQ(Row(1), "NOK|Executado 12 vezes sem sair de P (MaxWorkerRuns); \xFAltimo: exit 3|updated");
  int ended = 0;
  for (const state::TRunRecord& run : runs_) {
    if (run.request != 1 || run.end == state::TRunEnd::kRunning) continue;
    ++ended;
    EXPECT_EQ(std::pair(run.end, run.code), std::pair(state::TRunEnd::kExited, 3));
    EXPECT_EQ(run.leftPending, false);
  }
  EXPECT_EQ(ended, 12);
  Lines again;
  for (const std::string& line : logs_)
    if (line.find(", started again:") != npos) again.push_back(line);
  ASSERT_EQ(again.size(), 3u);
  EXPECT_EQ(again[0], "request 1: run 2, started again: the last one ended exit 3 with the row still P");
  EXPECT_EQ(Logged("request 1: worker ended: exit 3 after 1 s; its last output: 3 | 4 | conectando Password=*******; "
                   "| 6 | 7 (" + output_ + "); the row is still P: started again in 2 s"), 1u);
}

// The runs that count are the store's, every agent's and those before a restart; the
// setting is read at every run's end.
TEST_F(TfrmSyncTest, MaxWorkerRunsCountsTheStoresRunsAndIsReadAnew) {
  std::int32_t maxRuns = 0;
  services_.maxWorkerRuns = [&] { return maxRuns; };
  services_.runsLeftPending = [](std::int64_t) { return std::optional<std::int64_t>(4); };
  form_ = std::make_unique<TfrmSync>(services_);
  form_->FormCreate();
  Request(kRequest);
  form_->ProcessPendingOperation();
  EXPECT_EQ(Row(1), "P||no update");
  maxRuns = 5;
  clock_.Sleep(300s);
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_.size(), 2u);
  EXPECT_EQ(Row(1), "NOK|Executado 5 vezes sem sair de P (MaxWorkerRuns); \xFAltimo: status unknown|updated");
}

// A standing-by agent starts nothing. Once it dispatches, the runs of ended agents come
// first: one whose worker is gone is closed at once, one whose worker runs is supervised
// before any request. Processes of the run beside its worker hold the queue while the
// row is "P", and are logged once and let go when it left "P"; a stray marked process
// is logged once and never held.
TEST_F(TfrmSyncTest, AStandbyAgentTakesOverTheRunsOfEndedAgentsBeforeAnyRequest) {
  form_->FormCreate();
  for (int i = 0; i < 3; ++i) Request(kRequest);
  dispatching_ = false;
  form_->ProcessPendingOperation();
  form_->ProcessPendingOperation();
  EXPECT_TRUE(started_.empty());
  state::TRunRecord gone, left;
  std::tie(gone.key, gone.request, gone.workerPid, gone.agentPid) = std::tuple("old/1", 1, 900, 50);
  std::tie(left.key, left.request, left.workerPid, left.agentPid) = std::tuple("old/2", 2, kAdoptedPid, 50);
  SetStatus(1, "OK");
  orphans_ = {gone, left};
  dispatching_ = adoptedAlive_ = true;
  others_ = {{77, 1, "sleep 60"}};
  strays_ = {{55, 1, "env QARSNC_INSTALLATION=agentdir sleep 300"}};
  onPass_[1] = [this] { adoptedAlive_ = false; };
  onPass_[3] = [this] { SetStatus(2, "OK"); };
  form_->ProcessPendingOperation();
  EXPECT_EQ(roles_, (std::vector{state::TAgentRole::kStandby, state::TAgentRole::kDispatching}));
  EXPECT_TRUE(started_.empty());
  ASSERT_EQ(runs_.size(), 2u);
  EXPECT_EQ(std::tuple(runs_[0].key, runs_[0].end, runs_[0].note, runs_[0].leftPending),
            std::tuple("old/1", state::TRunEnd::kUnknown, std::string("ended while no agent watched"), true));
  EXPECT_EQ(std::tuple(runs_[1].key, runs_[1].end, runs_[1].note), std::tuple("old/2", state::TRunEnd::kUnknown, ""));
  EXPECT_EQ(passes_, 3);
  others_.clear();
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_, Lines{"SYNC_3_001_02_"});
  EXPECT_EQ(logs_, (Lines{"another agent of this installation dispatches its requests; this one stands by and takes "
                          "over when that one ends",
                          "this agent dispatches the installation's requests from now on",
                          "request 1: its worker, left by an agent that ended (pid 50), ended while no agent watched; "
                          "the row is now OK",
                          "a worker started earlier is running (request 2): supervising it before any request",
                          "pid 55 (env QARSNC_INSTALLATION=agentdir sleep 300) is marked as a worker of this installation "
                          "but belongs to none of its runs: ignored",
                          "request 2: pid 77 (sleep 60), left running by its worker, no longer holds the queue",
                          "request 2: worker ended: status unknown after 0 s; the row is now OK",
                          "request 3: worker started with SYNC_3_001_02_",
                          "request 3: worker ended: status unknown after 1 s; the row is still P: started again in 2 s "
                          "at the earliest, other requests meanwhile"}));
}

TEST(WithDefaultProvider, OnlyAStringWithoutProviderDriverOrDsnIsReadWithTheAgentsProvider) {
  for (const auto& [stored, read] :
       {std::pair{"Data Source=srv", "Provider=SQLOLEDB.1;Data Source=srv"}, {"Provider=SQLite;x=1", "Provider=SQLite;x=1"},
        {"Driver={ODBC Driver 18 for SQL Server}", "Driver={ODBC Driver 18 for SQL Server}"},
        {"dsn=loja;UID=sa", "dsn=loja;UID=sa"}, {"", ""}}) {
    EXPECT_EQ(WithDefaultProvider(stored, "SQLOLEDB.1"), read) << stored;
  }
}

TEST(RunMessageLoop, DeliversTicksOnTheIntervalAndReportsALastingFailureOnceThenRarely) {
  platform::SimulatedClock clock(kStart);
  TTimer timer;
  timer.SetInterval(2000);
  int tick = 0;
  const int failing = 2 * kRepeatedErrorReportEvery + 1;
  std::vector<double> at;
  timer.OnTimer = TNotifyEvent::FromFunction([&](TComponent&) {
    at.push_back((clock.Now() - kStart) * 86400);
    if (++tick <= failing || tick == failing + 2) throw std::runtime_error("database gone");
  });
  Lines reports;
  RunMessageLoop(timer, clock, [&] { return tick == failing + 2; }, [&](const std::string& m) { reports.push_back(m); });
  EXPECT_NEAR(at[0], 2.0, 1e-6);
  EXPECT_NEAR(at[2], 6.0, 1e-6);
  EXPECT_EQ(reports, (Lines{"database gone", "database gone (repeated 1800 times)",
                            "database gone (repeated 3600 times)", "database gone"}));
}

}  // namespace
}  // namespace qar::agent

namespace qar::agent {
namespace {

// A cancel that cannot stop the worker (another user's) is reported once; the row
// stays "C" while the worker runs and is marked when it ends.
TEST_F(TfrmSyncTest, ACancelThatCannotStopTheWorkerMarksTheRowOnlyOnceTheWorkerEnded) {
  form_->FormCreate();
  Request(kRequest);
  workerLife_ = 60s;
  stopRefused_ = true;
  onPass_[2] = [this] { SetStatus(1, "C"); };
  std::string whileRunning;
  onPass_[4] = [&] { whileRunning = Row(1); };
  form_->ProcessPendingOperation();
  EXPECT_EQ(whileRunning, "C||no update");
  EXPECT_EQ(kills_, 5);  // at each pass from the cancel on
  EXPECT_EQ(reports_, (Lines{"request 1: the cancel cannot stop every process of its worker (pid 101: Operation not "
                             "permitted); the worker runs on and the row stays C until it ends; it is stopped again "
                             "at every pass"}));
  EXPECT_EQ(Row(1), "NOK|Cancelado pelo operador|updated");
  EXPECT_EQ(logs_, (Lines{std::string(texts::kDispatching), "request 1: worker started with SYNC_1_001_02_",
                          "request 1: cancelled by the operator, its worker ended without being stopped, row marked NOK",
                          "request 1: worker ended: status unknown after 61 s; the row is now NOK"}));
  EXPECT_EQ(runs_.back().note, "cancelled by the operator");
}

}  // namespace
}  // namespace qar::agent
