#include "framework/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/strings.h"

namespace qar {
namespace {

std::vector<std::string>* gDestroyed = nullptr;

class TProbe : public TComponent {
 public:
  explicit TProbe(std::string label) : label_(std::move(label)) {}
  ~TProbe() override {
    if (gDestroyed) gDestroyed->push_back(label_);
  }
  std::string ClassName() const override { return "TProbe"; }
  void Dispatch(TMessage& message) override { message.Result = message.Msg + 1; }

 private:
  std::string label_;
};

class TSpecialProbe : public TProbe {
 public:
  TSpecialProbe() : TProbe("special") {}
  std::string ClassName() const override { return "TSpecialProbe"; }
};

TEST(ComponentTest, OwnerKeepsItsComponentsInCreationOrder) {
  TComponent owner;
  auto& first = owner.CreateComponent<TProbe>("first");
  auto& second = owner.CreateComponent<TSpecialProbe>();
  ASSERT_EQ(owner.ComponentCount(), 2);
  EXPECT_EQ(&owner.Components(0), &first);
  EXPECT_EQ(&owner.Components(1), &second);
  EXPECT_EQ(first.Owner(), &owner);
  EXPECT_THROW(owner.Components(2), EComponentError);
}

TEST(ComponentTest, DestroyingTheOwnerDestroysOwnedComponentsLastFirst) {
  std::vector<std::string> destroyed;
  gDestroyed = &destroyed;
  {
    TComponent owner;
    owner.CreateComponent<TProbe>("connection");
    owner.CreateComponent<TProbe>("query");
  }
  gDestroyed = nullptr;
  EXPECT_EQ(destroyed, (std::vector<std::string>{"query", "connection"}));
}

TEST(ComponentTest, RemovedComponentLeavesItsOwner) {
  TComponent owner;
  auto& probe = owner.CreateComponent<TProbe>("p");
  std::unique_ptr<TComponent> taken = owner.RemoveComponent(probe);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(taken->Owner(), nullptr);
}

TEST(ComponentTest, NamesAreFoundIgnoringCaseAndAreUniquePerOwner) {
  TComponent owner;
  auto& a = owner.CreateComponent<TProbe>("a");
  auto& b = owner.CreateComponent<TProbe>("b");
  a.SetName("adcVerifTab");
  EXPECT_EQ(owner.FindComponent("ADCVERIFTAB"), &a);
  EXPECT_EQ(owner.FindComponent("other"), nullptr);
  EXPECT_THROW(b.SetName("adcverifTab"), EComponentError);
  EXPECT_EQ(b.Name(), "");
}

TEST(ComponentTest, ClassNameAndIsATestFollowTheClassHierarchy) {
  TComponent owner;
  auto& special = owner.CreateComponent<TSpecialProbe>();
  const TComponent& asBase = special;
  EXPECT_EQ(asBase.ClassName(), "TSpecialProbe");
  EXPECT_TRUE(asBase.Is<TProbe>());
  EXPECT_TRUE(asBase.Is<TSpecialProbe>());
  EXPECT_FALSE(owner.Is<TProbe>());
  EXPECT_EQ(owner.ClassName(), "TComponent");
}

TEST(ComponentTest, MessagesReachTheComponentsOwnDispatch) {
  TProbe probe("p");
  TMessage message{1025, 0, 0, 0};
  probe.Dispatch(message);
  EXPECT_EQ(message.Result, 1026);
  TMessage ignored{1025, 0, 0, 0};
  TComponent plain;
  plain.Dispatch(ignored);
  EXPECT_EQ(ignored.Result, 0);
}

TEST(StringsTest, TextEndsEveryLineWithCrLfAndSplitsBack) {
  TStrings lines;
  lines.Add("SELECT 1");
  lines.Add("  FROM T");
  EXPECT_EQ(lines.Text(), "SELECT 1\r\n  FROM T\r\n");
  lines.SetText("a\r\nb\nc");
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines[2], "c");
}

}  // namespace
}  // namespace qar
