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

TEST(NamedMutex, SecondMutexOfTheSameNameInThisProcessAlreadyExists) {
  const std::string name = UniqueName("twice");
  NamedMutex first(name);
  ASSERT_EQ(first.Outcome(), MutexOutcome::kCreated) << first.ErrorText();
  EXPECT_EQ(first.LastError(), 0);

  NamedMutex second(name);
  EXPECT_EQ(second.Outcome(), MutexOutcome::kAlreadyExists);
  EXPECT_NE(second.LastError(), 0);
  EXPECT_EQ(NamedMutex(UniqueName("other")).Outcome(), MutexOutcome::kCreated);
}

TEST(NamedMutex, ClosingOrDestroyingTheHolderFreesTheName) {
  const std::string name = UniqueName("free");
  NamedMutex holder(name);
  ASSERT_EQ(holder.Outcome(), MutexOutcome::kCreated);
  holder.Close();
  EXPECT_EQ(holder.Outcome(), MutexOutcome::kCreated);
  {
    NamedMutex again(name);
    EXPECT_EQ(again.Outcome(), MutexOutcome::kCreated);
  }
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kCreated);
}

TEST(NamedMutex, LoserHoldsNothingAndMovedHolderKeepsTheName) {
  const std::string name = UniqueName("move");
  NamedMutex holder(name);
  NamedMutex loser(name);
  ASSERT_EQ(loser.Outcome(), MutexOutcome::kAlreadyExists);

  NamedMutex moved(std::move(holder));
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kAlreadyExists);
  moved.Close();
  // The loser is still alive: it must not keep the name taken.
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

TEST(NamedMutex, AnotherProcessHoldsItUntilKilled) {
  const std::string name = UniqueName("helper");
  std::string outcome;
  StartedHelper helper(StartHelper("hold-mutex", name, &outcome));
  ASSERT_NE(helper.Pid(), 0u);
  ASSERT_EQ(outcome, "created");
  EXPECT_EQ(NamedMutex(name).Outcome(), MutexOutcome::kAlreadyExists);

  ASSERT_TRUE(TerminateProcessById(helper.Pid()).ok);
  // The system frees the mutex of a process that was killed.
  EXPECT_TRUE(WaitFor([&] { return NamedMutex(name).Outcome() == MutexOutcome::kCreated; }));
}

TEST(NamedMutex, AnotherProcessSeesOursAsExisting) {
  const std::string name = UniqueName("ours");
  NamedMutex ours(name);
  ASSERT_EQ(ours.Outcome(), MutexOutcome::kCreated);
  std::string outcome;
  StartedHelper helper(StartHelper("hold-mutex", name, &outcome));
  ASSERT_NE(helper.Pid(), 0u);
  EXPECT_EQ(outcome, "exists");
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
