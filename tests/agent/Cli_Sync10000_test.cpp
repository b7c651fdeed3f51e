#include "agent/Cli_Sync10000.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "agent/AgentState.h"
#include "data/data_error.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {
namespace {

using namespace std::chrono_literals;
constexpr platform::TDateTime kStart = 46361.5;  // 5 December 2026, noon

// The form on a real SQLite database, with the worker, the process list and the
// clock simulated: a worker "runs" for workerLife of simulated time after its start.
class TfrmSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = "qar_agent_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
            "_" + std::to_string(platform::CurrentProcessId()) + ".db";
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
    services.isProcessRunning = [this](const std::string& name) {
      watched_.push_back(name);
      return workerAlive_;
    };
    services.killProcessByName = [this](const std::string& name) {
      killed_.push_back(name);
      if (survivesKill_ > 0) {
        --survivesKill_;
      } else {
        workerAlive_ = false;
      }
    };
    services.startWorker = [this](const std::string& path, const std::string& params) {
      started_.push_back(params);
      startedPath_ = path;
      if (workerLife_ > 0ms) {
        workerAlive_ = true;
        workerEnds_ = elapsed_ + workerLife_;
      }
    };
    services.startWatchdog = [this] { ++watchdogStarts_; };
    services.connectionString = [this] { return connectionString_; };
    services.agentDirectory = "agentdir";
    form_ = std::make_unique<TfrmSync>(std::move(services));
  }
  void TearDown() override {
    form_.reset();
    std::remove(file_.c_str());
  }

  void Sql(const std::string& text) {
    TADOCommand command;
    command.SetConnection(&form_->adcVerifTab);
    command.SetCommandText(text);
    command.Execute();
  }
  std::string Status(int id) {
    TADOQuery query;
    query.SetConnection(&form_->adcVerifTab);
    query.SQL().Add("SELECT IDSTCTRLEXECREM, DSERRO, DTULTATU FROM CTRLEXECREM WHERE IDCTRLEXECREM = " +
                    std::to_string(id));
    query.Open();
    return query.FieldByName("IDSTCTRLEXECREM").AsString() + "|" +
           query.FieldByName("DSERRO").AsString() + "|" +
           (query.FieldByName("DTULTATU").Value().IsNull() ? "no update" : "updated");
  }
  void Request(const std::string& operation, const std::string& status = "P") {
    Sql("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM) VALUES "
        "('PDV', 'SYNC', '" + operation + "', '" + status + "')");
  }
  void Started() {
    form_->FormCreate();
    sleeps_.clear();
  }

  platform::SimulatedClock clock_{kStart};
  std::chrono::milliseconds elapsed_{0};
  std::chrono::milliseconds workerLife_{0};
  std::chrono::milliseconds workerEnds_{0};
  bool workerAlive_ = false;
  int survivesKill_ = 0;
  struct Sleep {
    std::chrono::milliseconds duration;
    bool busy;
  };
  std::vector<Sleep> sleeps_;
  std::function<void(std::chrono::milliseconds)> onSleep_;
  std::vector<std::string> watched_, killed_, started_;
  std::string startedPath_;
  int watchdogStarts_ = 0;
  std::string file_, connectionString_;
  std::unique_ptr<TfrmSync> form_;
};

TEST_F(TfrmSyncTest, FormCreateCreatesTheMissingTableStartsTheWatchdogAndRecordsTheStart) {
  WorkerBusy = true;
  form_->FormCreate();
  EXPECT_EQ(watchdogStarts_, 1);
  EXPECT_FALSE(WorkerBusy.load());
  EXPECT_EQ(LastRestartTime.load(), kStart);
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");  // the table exists now
  EXPECT_EQ(Status(1), "P||no update");
}

TEST_F(TfrmSyncTest, FormCreateWithTheTablePresentCreatesNothing) {
  form_->FormCreate();
  Request("x");
  form_->adcVerifTab.Close();
  form_->FormCreate();  // the probe succeeds: no CREATE TABLE, no error
  EXPECT_EQ(Status(1), "P||no update");
}

TEST_F(TfrmSyncTest, AConnectFailureLeavesFormCreateBeforeTheWatchdogStarts) {
  connectionString_ = "Provider=SQLite;Data Source=no-such-dir/x/y.db";
  EXPECT_THROW(form_->FormCreate(), EDataError);
  EXPECT_EQ(watchdogStarts_, 0);
}

TEST_F(TfrmSyncTest, APendingRowStartsTheWorkerWithItsParameterString) {
  Started();
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  form_->ProcessPendingOperation();
  ASSERT_EQ(started_, std::vector<std::string>{"SYNC_1_001_02_"});
  EXPECT_EQ(startedPath_, std::string("agentdir") + platform::kPathDelim + "QarTab.exe");
  // A worker gone within the first second is not supervised.
  ASSERT_EQ(sleeps_.size(), 1u);
  EXPECT_EQ(sleeps_[0].duration, 1000ms);
  EXPECT_FALSE(sleeps_[0].busy);
  EXPECT_EQ(watched_, std::vector<std::string>{"Qartab.exe"});
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_EQ(Status(1), "P||no update");  // the agent never moves a row out of "P"
}

TEST_F(TfrmSyncTest, OnlyExactlyPendingRowsOfTodayAreStarted) {
  Started();
  Request(R"({"CDFILIAL":"1"})", "p");
  Sql("INSERT INTO CTRLEXECREM (DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) VALUES "
      "('y', 'P', datetime('now', 'localtime', '-1 day'))");
  form_->ProcessPendingOperation();
  EXPECT_TRUE(started_.empty());
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  Request(R"({"CDCAIXA":"02"})");
  form_->ProcessPendingOperation();
  EXPECT_EQ(started_, std::vector<std::string>{"SYNC_3__02_"});
}

TEST_F(TfrmSyncTest, SeveralPendingRowsStartOnePerTick) {
  Started();
  Request(R"({"CDFILIAL":"001","CDCAIXA":"01"})");
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  form_->ProcessPendingOperation();
  Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'OK' WHERE IDCTRLEXECREM = 1");
  form_->ProcessPendingOperation();
  form_->ProcessPendingOperation();  // row 2 still "P": started again
  EXPECT_EQ(started_, (std::vector<std::string>{"SYNC_1_001_01_", "SYNC_2_001_02_", "SYNC_2_001_02_"}));
}

TEST_F(TfrmSyncTest, ARunningWorkerIsSupervisedEveryTenSecondsWithWorkerBusySet) {
  Started();
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  workerLife_ = 25s;
  form_->ProcessPendingOperation();
  ASSERT_EQ(sleeps_.size(), 4u);  // 1 s, then three 10 s passes until the worker is gone
  EXPECT_FALSE(sleeps_[0].busy);
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(sleeps_[i].duration, 10000ms);
    EXPECT_TRUE(sleeps_[i].busy);
  }
  EXPECT_FALSE(WorkerBusy.load());
  EXPECT_TRUE(killed_.empty());
  EXPECT_TRUE(form_->timVerifTab.Enabled());
}

TEST_F(TfrmSyncTest, ACancellationStopsTheWorkerAndMarksTheRow) {
  Started();
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  workerLife_ = 3600s;
  onSleep_ = [this](std::chrono::milliseconds d) {
    if (d == 10000ms) Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = 1");
  };
  form_->ProcessPendingOperation();
  EXPECT_EQ(killed_, std::vector<std::string>{"Qartab.exe"});
  EXPECT_EQ(Status(1), "NOK|Cancelado pelo operador|updated");
  EXPECT_EQ(sleeps_.size(), 2u);  // the loop's test follows the cancellation at once
  EXPECT_FALSE(WorkerBusy.load());
}

TEST_F(TfrmSyncTest, AWorkerThatSurvivesTheCancellationKeepsTheLoopButTheRowIsMarkedOnce) {
  Started();
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  workerLife_ = 3600s;
  survivesKill_ = 1;
  bool cancelled = false;
  onSleep_ = [&](std::chrono::milliseconds d) {
    if (d == 10000ms && !cancelled) {
      cancelled = true;
      Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = 1");
    }
  };
  form_->ProcessPendingOperation();
  EXPECT_EQ(killed_.size(), 1u);  // the second pass reads "NOK", not "C"
  EXPECT_EQ(sleeps_.size(), 2u + 359u);
  EXPECT_EQ(Status(1), "NOK|Cancelado pelo operador|updated");
}

TEST_F(TfrmSyncTest, AnErrorInsideATickLeavesPollingReady) {
  Started();
  Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  workerLife_ = 3600s;
  onSleep_ = [this](std::chrono::milliseconds d) {
    if (d == 10000ms) Sql("DROP TABLE CTRLEXECREM");
  };
  EXPECT_THROW(form_->ProcessPendingOperation(), EDataError);
  EXPECT_TRUE(form_->timVerifTab.Enabled());
  EXPECT_FALSE(WorkerBusy.load());
}

TEST(RunMessageLoop, DeliversTicksOnTheIntervalAndGoesOnAfterAFailedTick) {
  platform::SimulatedClock clock(kStart);
  TTimer timer;
  timer.SetInterval(2000);
  std::atomic<bool> stop{false};
  std::vector<double> ticks;
  timer.OnTimer = TNotifyEvent::FromFunction([&](TComponent&) {
    ticks.push_back((clock.Now() - kStart) * 86400);
    if (ticks.size() == 1) throw std::runtime_error("lost connection");
    if (ticks.size() == 3) stop = true;
  });
  RunMessageLoop(timer, clock, &stop, [](const std::string&) {});
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_NEAR(ticks[0], 2.0, 1e-6);
  EXPECT_NEAR(ticks[2], 6.0, 1e-6);
}

TEST(RunMessageLoop, ALastingFailureIsReportedOnceThenRarelyAndAgainAfterARecovery) {
  platform::SimulatedClock clock(kStart);
  TTimer timer;
  std::atomic<bool> stop{false};
  int tick = 0;
  const int failing = 2 * kRepeatedErrorReportEvery + 1;
  timer.OnTimer = TNotifyEvent::FromFunction([&](TComponent&) {
    ++tick;
    if (tick == failing + 2) stop = true;
    if (tick <= failing || tick == failing + 2) throw std::runtime_error("database gone");
  });
  std::vector<std::string> reports;
  RunMessageLoop(timer, clock, &stop, [&](const std::string& m) { reports.push_back(m); });
  EXPECT_EQ(reports, (std::vector<std::string>{"database gone", "database gone (repeated 1800 times)",
                                               "database gone (repeated 3600 times)", "database gone"}));
}

}  // namespace
}  // namespace qar::agent
