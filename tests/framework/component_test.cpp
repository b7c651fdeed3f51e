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

TEST(ComponentTest, OwnerKeepsItsComponentsInOrderAndDestroysThemLastFirst) {
  std::vector<std::string> destroyed;
  gDestroyed = &destroyed;
  {
    TComponent owner;
    auto& first = owner.CreateComponent<TProbe>("connection");
    auto& second = owner.CreateComponent<TSpecialProbe>();
    ASSERT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(&owner.Components(1), &second);
    EXPECT_EQ(first.Owner(), &owner);
    EXPECT_THROW(owner.Components(2), EComponentError);
    std::unique_ptr<TComponent> taken = owner.RemoveComponent(second);
    EXPECT_EQ(taken->Owner(), nullptr);
    owner.CreateComponent<TProbe>("query");
  }
  gDestroyed = nullptr;
  EXPECT_EQ(destroyed, (std::vector<std::string>{"special", "query", "connection"}));
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

TEST(ComponentTest, ClassNameIsATestAndMessagesFollowTheClass) {
  TComponent owner;
  const TComponent& special = owner.CreateComponent<TSpecialProbe>();
  EXPECT_EQ(special.ClassName(), "TSpecialProbe");
  EXPECT_TRUE(special.Is<TProbe>());
  EXPECT_FALSE(owner.Is<TProbe>());
  TMessage message{1025, 0, 0, 0};
  owner.Components(0).Dispatch(message);
  EXPECT_EQ(message.Result, 1026);
  TMessage ignored{1025, 0, 0, 0};
  owner.Dispatch(ignored);
  EXPECT_EQ(ignored.Result, 0);
}

// Stands for an automation object: counts references.
struct TFakeComObject : IUnknown {
  int count = 0;
  HResult QueryInterface(const TGUID&, void** object) override { *object = nullptr; return -1; }
  std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++count); }
  std::uint32_t Release() override { return static_cast<std::uint32_t>(--count); }
};
TFakeComObject gMadeByHook;
int gHookCalls = 0;

TComPtr<IUnknown> MakeComObject(TComponent& component) {
  ++gHookCalls;
  component.SetVCLComObject(&gMadeByHook);
  return TComPtr<IUnknown>(&gMadeByHook);
}

TEST(ComponentTest, ComObjectIsTheSlotOrWhatTheHookMakes) {
  TProbe probe("p");
  ASSERT_EQ(CreateVCLComObjectProc.load(), nullptr);
  EXPECT_THROW(probe.ComObject(), EComponentError);
  CreateVCLComObjectProc = &MakeComObject;
  {
    TComPtr<IUnknown> made = probe.ComObject();
    EXPECT_EQ(made.Get(), &gMadeByHook);
    EXPECT_EQ(probe.ComObject(), made);  // from the slot now
    EXPECT_EQ(gHookCalls, 1);
    EXPECT_EQ(gMadeByHook.count, 1);
  }
  CreateVCLComObjectProc = nullptr;
  EXPECT_EQ(gMadeByHook.count, 0);
  void* object = &object;
  EXPECT_FALSE(probe.GetInterface(IUnknown::kIID, &object));
  EXPECT_EQ(object, nullptr);
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
