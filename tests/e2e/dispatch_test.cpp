// The dispatcher as requesters, operators and the worker meet it: start, supervision, cancellation, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agent_fixture.h"
#include "platform/module.h"

namespace qar::e2e {
namespace {

using DispatchTest = AgentCase;

TEST_F(DispatchTest, APendingRowStartsTheWorkerWithItsParameterStringAndAgainWhileTheWorkerLeavesItPending) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  const int id = table_.Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  EXPECT_TRUE(WaitForWorker("SYNC_" + std::to_string(id) + "_001_02_")) << AgentLog();
  EXPECT_TRUE(WaitUntil([&] { return WorkerStarts(Parameter(id, "001", "02")) >= 2; }, kBound)) << AgentLog();
  EXPECT_EQ(table_.Read(id).status, "P");
  EXPECT_TRUE(agent.Running());
}

// The database locked while a worker runs: the agent keeps supervising it, starts
// no second worker for the request, and honours the cancellation that follows.
TEST_F(DispatchTest, ADatabaseLockedWhileAWorkerRunsNeitherStartsASecondWorkerNorLosesTheCancellation) {
  HoldWorkers();
  StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  const int id = table_.Request(Operation("001", "02"));
  ASSERT_TRUE(WaitForWorker(Parameter(id, "001", "02"))) << AgentLog();
  {
    const auto lock = table_.Lock();
    ASSERT_TRUE(WaitForLog("request " + std::to_string(id) + ": the row cannot be read while its worker runs"))
        << AgentLog();
  }
  table_.SetStatus(id, "C");
  ASSERT_TRUE(WaitForStatus(id, "NOK")) << AgentLog();
  EXPECT_EQ(table_.Read(id).error, "Cancelado pelo operador");
  EXPECT_NE(table_.Read(id).lastUpdate, "");
  EXPECT_TRUE(WaitUntil([&] { return RunningWorkers().empty(); }, kBound));
  EXPECT_EQ(WorkerStarts(Parameter(id, "001", "02")), 1u);
}

TEST_F(DispatchTest, PollingResumesAfterADatabaseOutageAndAWorkerThatCannotBeStartedIsReportedAndTriedAgain) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  installation_.ConfigureWorker({"status=OK"});
  const int before = table_.Request(Operation("001", "01"));
  ASSERT_TRUE(WaitForStatus(before, "OK")) << AgentLog();
  ASSERT_EQ(AgentErrors(), "");

  // The file is damaged in place, so that a connection holding it open meets it too.
  const std::string content = installation_.ReadText("qar.db");
  const auto overwrite = [&](const std::string& text) {
    std::fstream(platform::ToNativePath(installation_.DatabaseFile()), std::ios::in | std::ios::out | std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  overwrite(std::string(content.size(), ' ').replace(0, 20, "This is no database."));
  EXPECT_TRUE(WaitUntil([&] { return !AgentErrors().empty(); }, kBound));
  overwrite(content);
  const int after = table_.Request(Operation("001", "02"));
  EXPECT_TRUE(WaitForStatus(after, "OK")) << AgentLog();

  const std::filesystem::path worker = platform::ToNativePath(installation_.WorkerPath());
  const std::filesystem::path away = platform::ToNativePath(installation_.Dir() + "QarTab.away");
  std::filesystem::rename(worker, away);
  const int missed = table_.Request(Operation("001", "03"));
  const std::string failure = "request " + std::to_string(missed) + ": " + installation_.WorkerPath() +
                              " cannot be started: ";
  EXPECT_TRUE(WaitForLog(failure)) << AgentLog();
  EXPECT_EQ(table_.Read(missed).status, "P");
  std::filesystem::rename(away, worker);
  EXPECT_TRUE(WaitForStatus(missed, "OK")) << AgentLog();
  EXPECT_EQ(WorkerStarts(Parameter(missed, "001", "03")), 1u);
  const std::string log = AgentLog();
  EXPECT_EQ(log.find(failure), log.rfind(failure)) << "reported once, not at every tick";
  EXPECT_TRUE(agent.Running());
}

// An id beyond the integer parameter and an operation text too long for a command
// line: each row is marked with the reason, and the rows behind them run.
TEST_F(DispatchTest, RowsThatCanNeverStartAreMarkedNotOkWithTheReasonAndTheQueueMovesOn) {
  installation_.ConfigureWorker({"status=OK"});
  StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  const auto insert = [&](long long id, const std::string& operation) {
    table_.Execute("INSERT INTO CTRLEXECREM (IDCTRLEXECREM, DSOPERACAO, IDSTCTRLEXECREM) VALUES (" +
                   std::to_string(id) + ", '" + operation + "', 'P')");
  };
  insert(1, Operation(std::string(200 * 1024, '7'), "02"));
  insert(2, Operation("001", "02"));
  insert(2147483648LL, Operation("001", "03"));
  insert(3, Operation("001", "04"));
  for (const long long id : {1LL, 2147483648LL}) {
    ASSERT_TRUE(WaitForStatus(id, "NOK")) << id << AgentLog();
    EXPECT_EQ(table_.Read(id).error.rfind("N\xE3o iniciado: ", 0), 0u) << table_.Read(id).error;
  }
  EXPECT_NE(table_.Read(1).error.find("acima do limite"), std::string::npos) << table_.Read(1).error;
  EXPECT_TRUE(WaitForStatus(2, "OK")) << AgentLog();
  EXPECT_TRUE(WaitForStatus(3, "OK")) << AgentLog();
  EXPECT_EQ(installation_.WorkerRuns().size(), 2u);
}

}  // namespace
}  // namespace qar::e2e
