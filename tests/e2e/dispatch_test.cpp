// The dispatcher as requesters, operators and the worker meet it: start, supervision, cancellation, failures.
#include <gtest/gtest.h>

#include <filesystem>

#include "agent_fixture.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace qar::e2e {
namespace {

using DispatchTest = AgentCase;

TEST_F(DispatchTest, APendingRowStartsTheWorkerWithItsParameterString) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_->ConfigureWorker({"status=OK"});
  const int id = Table().Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  EXPECT_TRUE(WaitForWorker("SYNC_" + std::to_string(id) + "_001_02_")) << AgentErrors();
  EXPECT_TRUE(WaitForStatus(id, "OK"));
  EXPECT_TRUE(agent.Running());
}

TEST_F(DispatchTest, SeveralPendingRowsAreEachStarted) {
  Table().CreateTable();
  installation_->ConfigureWorker({"status=OK"});
  const int a = Table().Request(Operation("001", "01"));
  const int b = Table().Request(Operation("001", "02"));
  const int c = Table().Request(Operation("002", "01"));
  StartAgent();
  EXPECT_TRUE(WaitForStatus(a, "OK", 3 * kDispatchBound)) << AgentErrors();
  EXPECT_TRUE(WaitForStatus(b, "OK", 3 * kDispatchBound)) << AgentErrors();
  EXPECT_TRUE(WaitForStatus(c, "OK", 3 * kDispatchBound)) << AgentErrors();
  EXPECT_EQ(WorkerStarts(Parameter(a, "001", "01")), 1u);
  EXPECT_EQ(WorkerStarts(Parameter(b, "001", "02")), 1u);
  EXPECT_EQ(WorkerStarts(Parameter(c, "002", "01")), 1u);
}

TEST_F(DispatchTest, ARowTheWorkerLeavesPendingIsStartedAgain) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  const int id = Table().Request(Operation("001", "02"));
  EXPECT_TRUE(WaitUntil([&] { return WorkerStarts(Parameter(id, "001", "02")) >= 2; }, 2 * kDispatchBound))
      << AgentErrors();
  EXPECT_EQ(Table().Read(id).status, "P");
  EXPECT_TRUE(agent.Running());
}

TEST_F(DispatchTest, ACancellationEndsTheWorkerAndMarksTheRowNotOk) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_->ConfigureWorker({"seconds=60", "status=OK"});
  const int id = Table().Request(Operation("001", "02"));
  ASSERT_TRUE(WaitForWorker(Parameter(id, "001", "02"))) << AgentErrors();
  const std::uint32_t worker = installation_->WorkerPids().back();
  ASSERT_TRUE(IsRunning(worker, kWorkerName));

  Table().SetStatus(id, "C");
  ASSERT_TRUE(WaitForStatus(id, "NOK", kCancelBound)) << AgentErrors();
  const ControlRow row = Table().Read(id);
  EXPECT_EQ(row.error, "Cancelado pelo operador");
  EXPECT_NE(row.lastUpdate, "");
  EXPECT_TRUE(WaitUntil([] { return ProcessesNamed(kWorkerName).empty(); }, kStartBound));
  EXPECT_TRUE(agent.Running());
  EXPECT_EQ(AgentErrors(), "");
}

TEST_F(DispatchTest, PollingResumesWhenTheDatabaseComesBack) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_->ConfigureWorker({"status=OK"});
  const int before = Table().Request(Operation("001", "01"));
  ASSERT_TRUE(WaitForStatus(before, "OK")) << AgentErrors();
  ASSERT_EQ(AgentErrors(), "");

  {
    DatabaseOutage outage(installation_->DatabaseFile());
    EXPECT_TRUE(WaitUntil([&] { return !AgentErrors().empty(); }, kDispatchBound));
    EXPECT_NE(AgentErrors().find(" QarSnc.exe: "), std::string::npos) << AgentErrors();
  }
  const int after = Table().Request(Operation("001", "02"));
  EXPECT_TRUE(WaitForStatus(after, "OK")) << AgentErrors();
  EXPECT_TRUE(agent.Running());
}

TEST_F(DispatchTest, AWorkerThatCannotBeStartedIsTriedAgainLater) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_->ConfigureWorker({"status=OK"});
  const std::filesystem::path worker = platform::ToNativePath(installation_->WorkerPath());
  const std::filesystem::path away = platform::ToNativePath(installation_->Dir() + "QarTab.away");
  std::filesystem::rename(worker, away);

  const int id = Table().Request(Operation("001", "02"));
  // A few ticks with the worker missing: a plain pause, nothing is measured.
  platform::SystemClock().Sleep(std::chrono::seconds(7));
  EXPECT_TRUE(agent.Running());
  EXPECT_EQ(Table().Read(id).status, "P");
  EXPECT_EQ(WorkerStarts(Parameter(id, "001", "02")), 0u);

  std::filesystem::rename(away, worker);
  EXPECT_TRUE(WaitForStatus(id, "OK")) << AgentErrors();
  EXPECT_EQ(WorkerStarts(Parameter(id, "001", "02")), 1u);
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
