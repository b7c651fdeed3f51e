#include "../support/database_files.h"
#include "agent/Cli_Sync10000.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "agent/agent_state.h"
#include "data/connection_string.h"
#include "platform/module.h"

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

// The form on a real SQLite database, with the worker, the process list and the
// clock simulated: a worker "runs" for workerLife of simulated time after its start.
class TfrmSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = "qar_agent_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
            std::to_string(platform::CurrentProcessId()) + ".db";
    ::qar::testing::RemoveDatabaseFiles(file_);
    connectionString_ = "Provider=SQLite;Data Source=" + file_;
    clock_.OnSleep([this](std::chrono::milliseconds duration) {
      elapsed_ += duration;
      if (workerAlive_ && elapsed_ >= workerEnds_) workerAlive_ = false;
      sleeps_.push_back({duration, WorkerBusy.load()});
      if (duration != 10s) return;
      if (auto at = onPass_.find(++passes_); at != onPass_.end() && at->second) std::exchange(at->second, nullptr)();
    });
    AgentServices& services = services_;
    services.clock = &clock_;
    services.workers = {[this] { return workerAlive_; },
                        [this] { ++kills_, workerAlive_ = survivesKill_-- > 0, onKill_ ? onKill_() : void(); }};
    services.startWorker = [this](const TWorkerStart& start) {
      started_.push_back(start.params);
      startedPath_ = start.path;
      startedAt_.push_back((clock_.Now() - kStart) * 86400);
      if (onStart_) onStart_(start.params);
      if (startFails_) return platform::ProcessResult{false, 2, "No such file or directory"};
      workerAlive_ = workerLife_ > 0ms;
      workerEnds_ = elapsed_ + workerLife_;
      return platform::ProcessResult{true, 0, {}};
    };
    services.maxParams = [this](const std::string&) { return maxParams_; };
    services.startWatchdog = [this] { ++watchdogStarts_; };
    services.connectionString = [this] { return connectionString_; };
    services.log = [this](const std::string& line) { logs_.push_back(line); };
    services.report = [this](const std::string& line) { reports_.push_back(line); };
    services.supervising = [this](const std::string& id) { published_.push_back(id); };
    services.agentDirectory = "agentdir";
    services.workerEnd = [this] { return exit_; };
    services.recordRun = [this](const state::TRunRecord& run) { runs_.push_back(run); };
    form_ = std::make_unique<TfrmSync>(services);
  }
  void TearDown() override {
    form_.reset();
    ::qar::testing::RemoveDatabaseFiles(file_);
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
  void Cancel(int id) { Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = " + std::to_string(id)); }

  platform::SimulatedClock clock_{kStart};
  std::chrono::milliseconds elapsed_{0}, workerLife_{0}, workerEnds_{0};
  bool workerAlive_ = false, startFails_ = false;
  int survivesKill_ = 0, kills_ = 0, watchdogStarts_ = 0, passes_ = 0;
  std::size_t maxParams_ = 1000;
  std::vector<std::pair<std::chrono::milliseconds, bool>> sleeps_;  // each sleep, and WorkerBusy during it
  std::map<int, std::function<void()>> onPass_;  // run at the n-th ten-second supervision pass
  std::function<void()> onKill_;
  std::function<void(const std::string&)> onStart_;
  std::optional<platform::TExitStatus> exit_;
  std::vector<double> startedAt_;  // seconds after kStart
  std::vector<state::TRunRecord> runs_;
  AgentServices services_;
  Lines started_, logs_, reports_, published_;
  std::string startedPath_, file_, connectionString_;
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
  form_->FormCreate();
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
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(Row(4), "P||no update");
  EXPECT_EQ(logs_, (Lines{"request 4: worker started with SYNC_4__02_",
                          "request 4: worker ended: status unknown after 1 s; the row is still P: started again "
                          "in 2 s at the earliest, other requests meanwhile"}));
}

// The cancelled row cannot be marked right after its worker was stopped: it is
// marked at the next pass. The kill leaves the worker running: it is not killed again.
TEST_F(TfrmSyncTest, ARunningWorkerIsSupervisedEveryTenSecondsAndACancellationStopsItAndIsMarkedOnce) {
  form_->FormCreate();
  Request(kRequest);
  workerLife_ = 60s;
  survivesKill_ = 1;
  onPass_[3] = [this] { Cancel(1); };
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
  EXPECT_EQ(published_, (Lines{"1", ""}));
  EXPECT_EQ(logs_, (Lines{"request 1: worker started with SYNC_1_001_02_",
                          "request 1: cancelled by the operator, worker stopped, row marked NOK",
                          "request 1: worker ended: status unknown after 61 s; the row is now NOK"}));
  // A worker whose request nobody told this agent is still published as supervised.
  workerAlive_ = true;
  workerEnds_ = elapsed_ + 10s;
  published_.clear();
  form_->ProcessPendingOperation();
  EXPECT_EQ(published_, (Lines{"?", ""}));
}

// A run that leaves its row "P" holds that row back for a growing wait while the
// rows behind it start; its re-runs are logged with their count the first three
// times (then once an hour); after MaxWorkerRuns runs the row is marked.
TEST_F(TfrmSyncTest, ARowLeftPendingWaitsLongerEachTimeWhileOthersStart) {
  services_.maxWorkerRuns = 12;
  form_ = std::make_unique<TfrmSync>(services_);
  form_->FormCreate();
  Request(kRequest);
  Request(R"({"CDFILIAL":"9"})");
  exit_ = platform::TExitStatus{false, 3};
  onStart_ = [this](const std::string& params) {
    if (params == "SYNC_2_9__") Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'OK' WHERE IDCTRLEXECREM = 2");
  };
  for (int tick = 0; tick < 2000 && Row(1)[0] == 'P'; ++tick) {
    form_->ProcessPendingOperation();
    clock_.Sleep(2s);
  }
  ASSERT_EQ(started_.size(), 13u);
  EXPECT_EQ(started_[1], "SYNC_2_9__");  // while row 1 waits
  startedAt_.erase(startedAt_.begin() + 1);
  for (int run = 1; run < 12; ++run) {
    const double waited = startedAt_[run] - startedAt_[run - 1] - 1;  // after its 1 s start wait
    const double wait = std::chrono::duration<double>(TfrmSync::RetryWait(run)).count();
    EXPECT_GE(waited + 0.01, wait) << run;
    if (run > 1) {
      EXPECT_LT(waited, wait + 2.5) << run;  // the next tick after it (run 1: row 2 ran)
    }
  }
  EXPECT_EQ(TfrmSync::RetryWait(9), 300s);
  EXPECT_EQ(TfrmSync::RetryWait(1000), 300s);
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
