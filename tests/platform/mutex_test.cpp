#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>

#include "helpers/helper_process.h"

namespace qar::platform {
namespace {

// Unique per test process and run: notes outlive their holders, and ids are reused.
std::string UniqueName(const std::string& tag) {
  return "QarTest-" + tag + "-" + std::to_string(CurrentProcessId()) + "-" +
         std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
}

TEST(NamedMutex, NameIsTakenUntilItsHolderClosesALoserHoldsNothingAndTheNoteOutlivesTheHolder) {
  const std::string name = UniqueName("twice");
  EXPECT_EQ(NamedMutex::ReadPublished(name), std::nullopt);
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated) << holder.ErrorText();
  ASSERT_TRUE(holder.Publish("pid=1\nrequest=17\n"));
  ASSERT_TRUE(holder.Publish("pid=1\n"));  // replaced whole
  NamedMutex loser(name);
  EXPECT_EQ(loser.Outcome(), MutexOutcome::kAlreadyExists);
  EXPECT_NE(loser.LastError(), 0);
  EXPECT_FALSE(loser.Publish("x"));
  NamedMutex moved(std::move(holder));
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kAlreadyExists);
  moved.Close();
  EXPECT_EQ(moved.Outcome(), MutexOutcome::kCreated) << "the outcome outlives the hold";
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kCreated);  // the loser, still alive, keeps nothing
  EXPECT_EQ(NamedMutex::ReadPublished(name), "pid=1\n");
  for (const std::string& bad : {std::string("a/b"), std::string("Global\\QSYNC"), std::string(), std::string("a\0b", 3)}) {
    EXPECT_EQ(NamedMutex(bad).Outcome(), MutexOutcome::kFailed) << bad;
    EXPECT_FALSE(NamedMutex(bad).ErrorText().empty()) << bad;
    EXPECT_EQ(NamedMutex::ReadPublished(bad), std::nullopt) << bad;
  }
}

TEST(NamedMutex, AnotherProcessHoldsItsOwnUntilKilled) {
  const std::string theirs = UniqueName("helper");
  const test::StartedHelper helper("hold-mutex", theirs);
  ASSERT_EQ(helper.Reply(), "created");
  EXPECT_EQ(NamedMutex(theirs).Outcome(), MutexOutcome::kAlreadyExists);
  helper.Kill();  // the system frees the mutex of a process that was killed
  EXPECT_TRUE(test::WaitFor([&] { return NamedMutex(theirs).Outcome() == MutexOutcome::kCreated; }));
}

}  // namespace
}  // namespace qar::platform
