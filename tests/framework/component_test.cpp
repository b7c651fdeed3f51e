// Components: ownership, names, messages, the automation object.
#include "framework/component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qar {
namespace {

std::vector<std::string> gDestroyed;

class TProbe : public TComponent {
 public:
  explicit TProbe(std::string label) : label_(std::move(label)) {}
  ~TProbe() override { gDestroyed.push_back(label_); }
  std::string ClassName() const override { return "TProbe"; }
  void Dispatch(TMessage& message) override { message.Result = message.Msg + 1; }

 private:
  std::string label_;
};

struct TSpecialProbe : TProbe {
  TSpecialProbe() : TProbe("special") {}
  std::string ClassName() const override { return "TSpecialProbe"; }
};

TEST(ComponentTest, OwnerKeepsItsComponentsInOrderFindsThemByNameAndDestroysThemLastFirst) {
  gDestroyed.clear();
  {
    TComponent owner;
    auto& first = owner.CreateComponent<TProbe>("connection");
    auto& second = owner.CreateComponent<TSpecialProbe>();
    ASSERT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(&owner.Components(1), &second);
    EXPECT_THROW(owner.Components(2), EComponentError);
    first.SetName("adcVerifTab");
    EXPECT_EQ(owner.FindComponent("ADCVERIFTAB"), &first);
    EXPECT_EQ(owner.FindComponent("other"), nullptr);
    EXPECT_THROW(second.SetName("adcverifTab"), EComponentError);
    EXPECT_EQ(second.Name(), "");
    // The class answers for itself; messages go to the class that handles them.
    EXPECT_EQ(owner.Components(1).ClassName(), "TSpecialProbe");
    EXPECT_TRUE(second.Is<TProbe>() && !owner.Is<TProbe>());
    TMessage message{1025, 0, 0, 0}, ignored{1025, 0, 0, 0};
    owner.Components(1).Dispatch(message);
    owner.Dispatch(ignored);
    EXPECT_EQ(message.Result, 1026);
    EXPECT_EQ(ignored.Result, 0);
    std::unique_ptr<TComponent> taken = owner.RemoveComponent(second);
    EXPECT_EQ(taken->Owner(), nullptr);
    owner.CreateComponent<TProbe>("query");
  }
  EXPECT_EQ(gDestroyed, (std::vector<std::string>{"special", "query", "connection"}));
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

}  // namespace
}  // namespace qar
