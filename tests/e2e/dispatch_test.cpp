// The dispatcher as requesters, operators and the worker meet it: start, supervision, cancellation, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "agent_fixture.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace qar::e2e {
namespace {

using DispatchTest = AgentCase;

TEST_F(DispatchTest, APendingRowStartsTheWorkerWithItsParameterStringAndAgainWhileTheWorkerLeavesItPending) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  const int id = table_.Request(R"({"CDFILIAL":"001","CDCAIXA":"02"})");
  EXPECT_TRUE(WaitForWorker("SYNC_" + std::to_string(id) + "_001_02_")) << AgentErrors();
  EXPECT_TRUE(WaitUntil([&] { return WorkerStarts(Parameter(id, "001", "02")) >= 2; }, 2 * kBound))
      << AgentErrors();
  EXPECT_EQ(table_.Read(id).status, "P");
  EXPECT_TRUE(agent.Running());
}

TEST_F(DispatchTest, ACancellationEndsTheWorkerAndMarksTheRowNotOk) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_.ConfigureWorker({"seconds=60", "status=OK"});
  const int id = table_.Request(Operation("001", "02"));
  ASSERT_TRUE(WaitForWorker(Parameter(id, "001", "02"))) << AgentErrors();
  ASSERT_TRUE(IsRunning(installation_.WorkerRuns().back().pid, kWorkerName));

  table_.SetStatus(id, "C");
  ASSERT_TRUE(WaitForStatus(id, "NOK", kCancelBound)) << AgentErrors();
  const ControlRow row = table_.Read(id);
  EXPECT_EQ(row.error, "Cancelado pelo operador");
  EXPECT_NE(row.lastUpdate, "");
  EXPECT_TRUE(WaitUntil([&] { return RunningWorkers().empty(); }, kBound));
  EXPECT_TRUE(agent.Running());
  EXPECT_EQ(AgentErrors(), "");
}

TEST_F(DispatchTest, PollingResumesAfterADatabaseOutageAndAWorkerThatCannotBeStartedIsTriedAgainLater) {
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  installation_.ConfigureWorker({"status=OK"});
  const int before = table_.Request(Operation("001", "01"));
  ASSERT_TRUE(WaitForStatus(before, "OK")) << AgentErrors();
  ASSERT_EQ(AgentErrors(), "");

  // The file is damaged in place, so that a connection holding it open meets it too.
  const std::string content = installation_.ReadText("qar.db");
  const auto overwrite = [&](const std::string& text) {
    std::fstream(platform::ToNativePath(installation_.DatabaseFile()), std::ios::in | std::ios::out | std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  overwrite(std::string(content.size(), ' ').replace(0, 20, "This is no database."));
  EXPECT_TRUE(WaitUntil([&] { return !AgentErrors().empty(); }, kBound));
  EXPECT_NE(AgentErrors().find(" QarSnc.exe: "), std::string::npos) << AgentErrors();
  overwrite(content);
  const int after = table_.Request(Operation("001", "02"));
  EXPECT_TRUE(WaitForStatus(after, "OK")) << AgentErrors();

  const std::filesystem::path worker = platform::ToNativePath(installation_.WorkerPath());
  const std::filesystem::path away = platform::ToNativePath(installation_.Dir() + "QarTab.away");
  std::filesystem::rename(worker, away);
  const int missed = table_.Request(Operation("001", "03"));
  // A few ticks with the worker missing: a plain pause, nothing is measured.
  platform::SystemClock().Sleep(std::chrono::seconds(7));
  EXPECT_TRUE(agent.Running()) << AgentErrors();
  EXPECT_EQ(table_.Read(missed).status, "P");
  EXPECT_EQ(WorkerStarts(Parameter(missed, "001", "03")), 0u);
  std::filesystem::rename(away, worker);
  EXPECT_TRUE(WaitForStatus(missed, "OK")) << AgentErrors();
  EXPECT_EQ(WorkerStarts(Parameter(missed, "001", "03")), 1u);
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
