#include "agent/Cli_Sync10000.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "agent/AgentState.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "platform/module.h"

namespace qar::agent {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
constexpr platform::TDateTime kStart = 46361.5;  // 5 December 2026, noon
constexpr const char* kRequest = R"({"CDFILIAL":"001","CDCAIXA":"02"})";

// The form on a real SQLite database, with the worker, the process list and the
// clock simulated: a worker "runs" for workerLife of simulated time after its start.
class TfrmSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = "qar_agent_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
            std::to_string(platform::CurrentProcessId()) + ".db";
    std::remove(file_.c_str());
    connectionString_ = "Provider=SQLite;Data Source=" + file_;
    clock_.OnSleep([this](std::chrono::milliseconds duration) {
      elapsed_ += duration;
      if (workerAlive_ && elapsed_ >= workerEnds_) workerAlive_ = false;
      sleeps_.push_back({duration, WorkerBusy.load()});
      if (onSleep_) onSleep_(duration);
    });
    AgentServices services;
    services.clock = &clock_;
    services.workers.running = [this] { return workerAlive_; };
    services.workers.kill = [this] {
      if (onKill_) onKill_();
      ++kills_;
      workerAlive_ = survivesKill_-- > 0;
    };
    services.startWorker = [this](const std::string& path, const std::string& params) {
      started_.push_back(params);
      startedPath_ = path;
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
    services.stopRequested = [this] { return stop_; };
    services.supervising = [this](const std::string& id) { published_.push_back(id); };
    services.agentDirectory = "agentdir";
    form_ = std::make_unique<TfrmSync>(std::move(services));
  }
  void TearDown() override {
    form_.reset();
    std::remove(file_.c_str());
  }

  void Sql(const std::string& text) { form_->adcVerifTab.Execute(text); }
  // Status and error text of a row, and whether the agent updated it.
  std::string Row(long long id) {
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
  void Started() {
    form_->FormCreate();
    sleeps_.clear();
  }
  // Runs `action` at the n-th ten-second supervision pass (1-based).
  void AtPass(int pass, std::function<void()> action) {
    onSleep_ = [this, pass, action, count = 0](std::chrono::milliseconds d) mutable {
      if (d == 10000ms && ++count == pass) action();
    };
  }

  platform::SimulatedClock clock_{kStart};
  std::chrono::milliseconds elapsed_{0}, workerLife_{0}, workerEnds_{0};
  bool workerAlive_ = false, startFails_ = false, stop_ = false;
  int survivesKill_ = 0, kills_ = 0, watchdogStarts_ = 0;
  std::size_t maxParams_ = 1000;
  struct Sleep {
    std::chrono::milliseconds duration;
    bool busy;
  };
  std::vector<Sleep> sleeps_;
  std::function<void(std::chrono::milliseconds)> onSleep_;
  std::function<void()> onKill_;
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
  for (TADOCommand* command : {&form_->acmUpdVerifTab, &form_->acmCTRLEXECREM}) {
    EXPECT_EQ(command->CommandTimeout(), 0);
  }
}

// The probe fails on a table it cannot read for another reason: CREATE TABLE is
// tried all the same, and its error leaves with the watchdog already running.
TEST_F(TfrmSyncTest, AProbeFailingForAnotherReasonReportsTheCreateErrorWithTheWatchdogRunning) {
  Sql("CREATE TABLE CTRLEXECREM (IDCTRLEXECREM INTEGER PRIMARY KEY)");  // no status column
  try {
    form_->FormCreate();
    ADD_FAILURE() << "no error";
  } catch (const EDataError& error) {
    EXPECT_NE(std::string(error.what()).find("already exists"), std::string::npos) << error.what();
  }
  EXPECT_EQ(watchdogStarts_, 1);
  EXPECT_EQ(LastRestartTime.load(), kStart);
}

TEST_F(TfrmSyncTest, AConnectFailureLeavesFormCreateBeforeTheWatchdogAndNamesTheFile) {
  connectionString_ = "Provider=SQLite;Data Source=no-such-dir/x/y.db";
  try {
    form_->FormCreate();
    ADD_FAILURE() << "no error";
  } catch (const EDataError& error) {
    EXPECT_NE(std::string(error.what()).find("no-such-dir/x/y.db"), std::string::npos) << error.what();
  }
  EXPECT_EQ(watchdogStarts_, 0);
  connectionString_ = "Data Source=no-such-server;Initial Catalog=loja";  // read as SQL Server's
  EXPECT_THROW(form_->FormCreate(), EDataError);
  EXPECT_EQ(form_->adcVerifTab.ConnectionString(), "Provider=SQLOLEDB.1;" + connectionString_);
}

// "p" passes a case-insensitive SQL comparison; the agent's own check refuses it.
TEST_F(TfrmSyncTest, OnlyExactlyPendingRowsOfTodayStartAWorkerWithTheirParameterString) {
  Sql("CREATE TABLE CTRLEXECREM (IDCTRLEXECREM INTEGER PRIMARY KEY, CDAPP, TPOPERACAO, DSOPERACAO, "
      "IDSTCTRLEXECREM COLLATE NOCASE, DSERRO, DTINCLUSAO DATETIME DEFAULT (datetime('now','localtime')), "
      "DTINICIO, DTULTATU)");
  Started();
  Request(kRequest, "p");
  form_->ProcessPendingOperation();
  Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'x'");
  Sql("INSERT INTO CTRLEXECREM (DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) VALUES "
      "('y', 'P', datetime('now', 'localtime', '-1 day'))");
  form_->ProcessPendingOperation();
  EXPECT_TRUE(started_.empty());
  Request(R"({"CDCAIXA":"02"})");
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_, Lines{"SYNC_3__02_"});
  EXPECT_EQ(startedPath_, std::string("agentdir") + platform::kPathDelim + "QarTab.exe");
  // A worker gone within the first second is not supervised; the row stays "P".
  ASSERT_EQ(sleeps_.size(), 1u);
  EXPECT_EQ(sleeps_[0].duration, 1000ms);
  EXPECT_FALSE(sleeps_[0].busy);
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(Row(3), "P||no update");
  EXPECT_EQ(logs_, (Lines{"request 3: worker started with SYNC_3__02_",
                          "request 3: worker ended, gone 1 s after the start (checked every 10 s)"}));
}

TEST_F(TfrmSyncTest, ARunningWorkerIsSupervisedEveryTenSecondsAndACancellationStopsItOnce) {
  Started();
  Request(kRequest);
  workerLife_ = 60s;
  survivesKill_ = 1;  // the kill leaves it running: the loop goes on, the row is marked once
  AtPass(3, [this] { Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = 1"); });
  form_->ProcessPendingOperation();
  EXPECT_EQ(kills_, 1);
  EXPECT_EQ(Row(1), "NOK|Cancelado pelo operador|updated");
  ASSERT_EQ(sleeps_.size(), 7u);  // 1 s, then passes until the worker is gone at 60 s
  EXPECT_FALSE(sleeps_[0].busy);
  for (std::size_t i = 1; i < sleeps_.size(); ++i) {
    EXPECT_EQ(sleeps_[i].duration, 10000ms);
    EXPECT_TRUE(sleeps_[i].busy);
  }
  EXPECT_FALSE(WorkerBusy.load());
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(published_, (Lines{"1", ""}));
  EXPECT_EQ(logs_, (Lines{"request 1: worker started with SYNC_1_001_02_",
                          "request 1: cancelled by the operator, worker stopped, row marked NOK",
                          "request 1: worker ended, gone 61 s after the start (checked every 10 s)"}));
}

// The row cannot be marked right after its worker was stopped: it is marked at
// the next pass, though no worker is left to supervise.
TEST_F(TfrmSyncTest, ACancelledRowThatCannotBeMarkedAtOnceIsMarkedAtTheNextPass) {
  Started();
  Request(kRequest);
  workerLife_ = 3600s;
  AtPass(1, [this] { Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C'"); });
  onKill_ = [this] {
    Sql("ALTER TABLE CTRLEXECREM RENAME TO HIDDEN");
    AtPass(1, [this] { Sql("ALTER TABLE HIDDEN RENAME TO CTRLEXECREM"); });
  };
  form_->ProcessPendingOperation();
  EXPECT_EQ(kills_, 1);
  EXPECT_EQ(reports_.size(), 1u);
  EXPECT_EQ(Row(1), "NOK|Cancelado pelo operador|updated");
}

// The database locked (here: the table gone) while a worker runs: supervision is
// reported once and goes on; no second worker starts for the request.
TEST_F(TfrmSyncTest, AnErrorWhileSupervisingIsReportedOnceAndSupervisionGoesOnUntilTheWorkerEnds) {
  Started();
  Request(kRequest);
  workerLife_ = 65s;
  onSleep_ = [this](std::chrono::milliseconds d) {
    if (d != 10000ms) return;
    if (elapsed_ == 11s) Sql("ALTER TABLE CTRLEXECREM RENAME TO HIDDEN");
    if (elapsed_ == 41s) Sql("ALTER TABLE HIDDEN RENAME TO CTRLEXECREM");
  };
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_, Lines{"SYNC_1_001_02_"});
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("request 1: the row cannot be read while its worker runs: "), std::string::npos)
      << reports_[0];
  EXPECT_EQ(sleeps_.size(), 1u + 7u);  // supervised until the worker's end
}

TEST_F(TfrmSyncTest, AWorkerLeftRunningIsSupervisedBeforeAnyRequestAndItsCancellationHonoured) {
  Started();
  Request(kRequest);
  workerAlive_ = true;  // an earlier agent's worker for row 1
  workerEnds_ = 3600s;
  form_->AdoptRequest("1");
  AtPass(2, [this] { Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = 1"); });
  form_->ProcessPendingOperation();
  EXPECT_TRUE(started_.empty());
  EXPECT_EQ(kills_, 1);
  EXPECT_EQ(Row(1), "NOK|Cancelado pelo operador|updated");
  EXPECT_TRUE(sleeps_.front().busy);
  EXPECT_EQ(logs_.front(), "a worker started earlier is running (request 1): supervising it before any request");
}

// Rows that can never start are marked with the reason, and the queue moves on.
TEST_F(TfrmSyncTest, ARowThatCanNeverStartIsMarkedNotOkAndTheNextRowStarts) {
  Started();
  maxParams_ = 18;
  Request(R"({"CDFILIAL":"0123456789"})");  // SYNC_1_0123456789__: 19 characters
  Request(kRequest);
  form_->ProcessPendingOperation();
  form_->ProcessPendingOperation();
  EXPECT_EQ(Row(1), "NOK|N\xE3o iniciado: os par\xE2metros do QarTab.exe t\xEAm 19 caracteres, acima do limite de 18 "
                    "do sistema|updated");
  EXPECT_EQ(started_, Lines{"SYNC_2_001_02_"});
  Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'OK'");
  Sql("INSERT INTO CTRLEXECREM (IDCTRLEXECREM, DSOPERACAO, IDSTCTRLEXECREM) VALUES (2147483648, 'x', 'P')");
  form_->ProcessPendingOperation();
  form_->ProcessPendingOperation();
  EXPECT_EQ(Row(2147483648LL), "NOK|N\xE3o iniciado: o id 2147483648 excede o par\xE2metro inteiro IDCTRLEXECREM "
                               "(-2147483648 a 2147483647)|updated");
  EXPECT_EQ(started_.size(), 1u);
  EXPECT_EQ(reports_.size(), 2u);
}

TEST_F(TfrmSyncTest, AStartThatFailsIsReportedThroughTheTickAndTriedAgain) {
  Started();
  Request(kRequest);
  startFails_ = true;
  for (int tick = 0; tick < 2; ++tick) {
    try {
      form_->ProcessPendingOperation();
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), "request 1: " + startedPath_ +
                                               " cannot be started: No such file or directory; tried again at the "
                                               "next tick");
    }
  }
  EXPECT_EQ(started_.size(), 2u);
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(Row(1), "P||no update");
}

TEST_F(TfrmSyncTest, ADatabaseFileRemovedUnderTheAgentIsReportedThenConnectedAndProbedAnew) {
  if (platform::kPathDelim == '\\') GTEST_SKIP() << "the embedded driver of the POSIX build";
  Started();
  ASSERT_EQ(std::remove(file_.c_str()), 0);
  try {
    form_->ProcessPendingOperation();
    ADD_FAILURE() << "no error";
  } catch (const EDataError& error) {
    EXPECT_EQ(std::string(error.what()), "The database file " + file_ + " was removed or replaced while it was open");
  }
  form_->ProcessPendingOperation();  // a new file, with the table
  Request(kRequest);
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_, Lines{"SYNC_1_001_02_"});
}

TEST_F(TfrmSyncTest, AStopRequestEndsSupervisionAndLeavesTheWorkerRunning) {
  Started();
  Request(kRequest);
  workerLife_ = 3600s;
  AtPass(2, [this] { stop_ = true; });
  form_->ProcessPendingOperation();
  EXPECT_EQ(sleeps_.size(), 3u);
  EXPECT_TRUE(workerAlive_);
  EXPECT_EQ(kills_, 0);
  EXPECT_FALSE(WorkerBusy.load());
  EXPECT_EQ(logs_.size(), 1u);  // no end line: the worker runs on
}

TEST(WithDefaultProvider, OnlyAStringWithoutProviderDriverOrDsnIsReadWithTheAgentsProvider) {
  const struct {
    const char *stored, *read;
  } cases[] = {
      {"Data Source=srv;Initial Catalog=loja", "Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=loja"},
      {"Provider=SQLite;Data Source=a.db", "Provider=SQLite;Data Source=a.db"},
      {"Driver={ODBC Driver 18 for SQL Server};Server=srv", "Driver={ODBC Driver 18 for SQL Server};Server=srv"},
      {"dsn=loja;UID=sa", "dsn=loja;UID=sa"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WithDefaultProvider(c.stored, "SQLOLEDB.1"), c.read) << c.stored;
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
