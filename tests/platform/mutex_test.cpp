#include "platform/mutex.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "helpers/helper_process.h"
#include "platform/process.h"

namespace qar::platform {
namespace {

using test::StartedHelper;
using test::StartHelper;
using test::WaitFor;

// Unique per test process, so parallel runs and earlier failures do not meet.
std::string UniqueName(const std::string& tag) {
  return "QarTest-" + tag + "-" + std::to_string(CurrentProcessId());
}

TEST(NamedMutex, NameIsTakenUntilItsHolderClosesOrGoesAndALoserHoldsNothing) {
  const std::string name = UniqueName("twice");
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated) << holder.ErrorText();
  EXPECT_EQ(holder.LastError(), 0);
  NamedMutex loser(name);
  EXPECT_EQ(loser.Outcome(), MutexOutcome::kAlreadyExists);
  EXPECT_NE(loser.LastError(), 0);
  EXPECT_EQ(NamedMutex(UniqueName("other")).Outcome(), MutexOutcome::kCreated);

  NamedMutex moved(std::move(holder));
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kAlreadyExists);
  moved.Close();
  EXPECT_EQ(moved.Outcome(), MutexOutcome::kCreated) << "the outcome outlives the hold";
  {
    NamedMutex again(name);  // the loser, still alive, does not keep the name taken
    EXPECT_EQ(again.Outcome(), MutexOutcome::kCreated);
  }
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kCreated);
}

TEST(NamedMutex, NamesThatArePathsOrNamespacesAreRefused) {
  for (const std::string& name : {std::string("a/b"), std::string("Global\\QSYNC"), std::string(), std::string("a\0b", 3)}) {
    NamedMutex mutex(name);
    EXPECT_EQ(mutex.Outcome(), MutexOutcome::kFailed) << name;
    EXPECT_NE(mutex.LastError(), 0) << name;
    EXPECT_FALSE(mutex.ErrorText().empty()) << name;
  }
}

TEST(NamedMutex, AnotherProcessSeesOursAndHoldsItsOwnUntilKilled) {
  const std::string ours = UniqueName("ours");
  NamedMutex held(ours);
  ASSERT_EQ(held.Outcome(), MutexOutcome::kCreated);
  std::string outcome;
  StartedHelper loser(StartHelper("hold-mutex", ours, &outcome));
  ASSERT_NE(loser.Pid(), 0u);
  EXPECT_EQ(outcome, "exists");

  const std::string theirs = UniqueName("helper");
  StartedHelper helper(StartHelper("hold-mutex", theirs, &outcome));
  ASSERT_NE(helper.Pid(), 0u);
  ASSERT_EQ(outcome, "created");
  EXPECT_EQ(NamedMutex(theirs).Outcome(), MutexOutcome::kAlreadyExists);
  ASSERT_TRUE(TerminateProcessById(helper.Pid()).ok);
  // The system frees the mutex of a process that was killed.
  EXPECT_TRUE(WaitFor([&] { return NamedMutex(theirs).Outcome() == MutexOutcome::kCreated; }));
}

TEST(NamedMutex, ProgramsStartedByTheHolderDoNotKeepIt) {
  const std::string name = UniqueName("inherit");
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated);
  StartedHelper helper(StartHelper("sleep"));
  ASSERT_NE(helper.Pid(), 0u);

  holder.Close();
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kCreated);
}

}  // namespace
}  // namespace qar::platform
