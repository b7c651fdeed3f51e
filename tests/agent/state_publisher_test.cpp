#include "agent/state_publisher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {
namespace {

// An unwritable store is reported once; its runs reach it once it can be written; an idle
// agent's poll reaches it every ten seconds.
TEST(StatePublisherTest, AnUnwritableStoreIsReportedOnceAndItsRunsAreWrittenLater) {
  // Relative, with '/': under Wine the host's SQLite ODBC driver reads the same path.
  const std::string dir = "qar_publisher_" + std::to_string(platform::CurrentProcessId());
  std::filesystem::remove_all(platform::ToNativePath(dir));
  std::ofstream(platform::ToNativePath(dir)) << "a file where the store's directory belongs";
  const std::string path = dir + "/" + state::kStateStoreFileName;
  platform::SimulatedClock clock(46361.5);
  std::vector<std::string> reports;
  state::TAgentRecord self;
  self.instance = "agent-1";
  TStatePublisher publisher(path, self, clock, [&](const std::string& line) { reports.push_back(line); });
  state::TRunRecord run;
  std::tie(run.key, run.request, run.started) = std::tuple("agent-1/1", 17, clock.Now());
  for (int poll = 0; poll < 3; ++poll) {
    publisher.Run(run);
    publisher.Polled();
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("the state store cannot be written"), std::string::npos) << reports[0];

  std::filesystem::remove(platform::ToNativePath(dir));
  std::filesystem::create_directories(platform::ToNativePath(dir));
  publisher.Polled();
  state::TStateStore reader = state::TStateStore::OpenForReading(path);
  EXPECT_EQ(reader.RunsOfRequest(17, clock.Now()).size(), 1u);
  const platform::TDateTime firstPoll = reader.Agents(clock.Now()).at(0).lastPoll;
  clock.Sleep(std::chrono::seconds(4));
  publisher.Polled();
  EXPECT_EQ(reader.Agents(clock.Now()).at(0).lastPoll, firstPoll);  // nothing new yet
  clock.Sleep(std::chrono::seconds(7));
  publisher.Polled();
  EXPECT_GT(reader.Agents(clock.Now()).at(0).lastPoll, firstPoll);
  publisher.Ended();
  EXPECT_TRUE(reader.Agents(clock.Now()).empty());
  EXPECT_EQ(reports.size(), 1u);
  std::filesystem::remove_all(platform::ToNativePath(dir));
}

}  // namespace
}  // namespace qar::agent
