#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "helpers/helper_process.h"
#include "platform/process.h"

namespace qar::platform {
namespace {

using test::StartedHelper;
using test::StartHelper;

// Unique per test process, so parallel runs and earlier failures do not meet.
std::string UniqueName(const std::string& tag) { return "QarTest-" + tag + "-" + std::to_string(CurrentProcessId()); }

TEST(NamedMutex, NameIsTakenUntilItsHolderClosesAndALoserHoldsNothing) {
  const std::string name = UniqueName("twice");
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated) << holder.ErrorText();
  NamedMutex loser(name);
  EXPECT_EQ(loser.Outcome(), MutexOutcome::kAlreadyExists);
  EXPECT_NE(loser.LastError(), 0);
  EXPECT_FALSE(loser.Publish("x"));
  NamedMutex moved(std::move(holder));
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kAlreadyExists);
  moved.Close();
  EXPECT_EQ(moved.Outcome(), MutexOutcome::kCreated) << "the outcome outlives the hold";
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kCreated);  // the loser, still alive, keeps nothing
  for (const std::string& bad : {std::string("a/b"), std::string("Global\\QSYNC"), std::string(), std::string("a\0b", 3)}) {
    NamedMutex mutex(bad);
    EXPECT_EQ(mutex.Outcome(), MutexOutcome::kFailed) << bad;
    EXPECT_FALSE(mutex.ErrorText().empty()) << bad;
  }
}

TEST(NamedMutex, TheHoldersNoteIsReplacedWholeAndOutlivesTheHolder) {
  // Notes outlive their holders, and ids are reused: the name is unique to this run.
  const std::string name = UniqueName("note-" + std::to_string(std::chrono::system_clock::now().time_since_epoch().count()));
  EXPECT_EQ(NamedMutex::ReadPublished(name), std::nullopt);
  {
    NamedMutex holder(name);
    ASSERT_TRUE(holder.Publish("pid=1\nrequest=17\n"));
    ASSERT_TRUE(holder.Publish("pid=1\n"));
  }
  EXPECT_EQ(NamedMutex::ReadPublished(name), "pid=1\n");
  EXPECT_EQ(NamedMutex::ReadPublished("a/b"), std::nullopt);
}

TEST(NamedMutex, AnotherProcessSeesOursAndHoldsItsOwnUntilKilledAndStartedProgramsKeepNone) {
  const std::string ours = UniqueName("ours");
  NamedMutex held(ours);
  ASSERT_EQ(held.Outcome(), MutexOutcome::kCreated);
  std::string outcome;
  StartedHelper loser(StartHelper("hold-mutex", ours, &outcome));
  ASSERT_NE(loser.Pid(), 0u);
  EXPECT_EQ(outcome, "exists");
  held.Close();  // the helper this process started does not keep it
  EXPECT_EQ(NamedMutex(ours).Outcome(), MutexOutcome::kCreated);

  const std::string theirs = UniqueName("helper");
  StartedHelper helper(StartHelper("hold-mutex", theirs, &outcome));
  ASSERT_EQ(outcome, "created");
  EXPECT_EQ(NamedMutex(theirs).Outcome(), MutexOutcome::kAlreadyExists);
  for (const TProcessHandle& process : FindProcessesOfFile(test::HelperPath())) {
    if (process.Pid() == helper.Pid()) process.Terminate();
  }
  // The system frees the mutex of a process that was killed.
  EXPECT_TRUE(test::WaitFor([&] { return NamedMutex(theirs).Outcome() == MutexOutcome::kCreated; }));
}

}  // namespace
}  // namespace qar::platform
