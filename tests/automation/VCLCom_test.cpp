// The automation object that wraps a component: creation with retries in simulated
// time, the query that falls through to the component, ownership and the slot, and
// the unit's counted start-up.
#include "automation/VCLCom.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "com/dispatch_client.h"
#include "com/interfaced_component.h"
#include "com/type_info.h"
#include "diagnostics/log_file_name.h"
#include "platform/module.h"

namespace qar::automation {
namespace {

using namespace std::chrono_literals;

constexpr TGUID kIID_IExtra = TGUID::Parse("{9A8B7C6D-5E4F-4031-8291-A0B1C2D3E4F5}");
constexpr TGUID kIID_IdmTeste = TGUID::Parse("{9A8B7C6D-5E4F-4031-8291-A0B1C2D3E4F6}");
constexpr TGUID kCLSID_dmTeste = TGUID::Parse("{9A8B7C6D-5E4F-4031-8291-A0B1C2D3E4F7}");

// An interface that only the component implements.
class IExtra : public IUnknown {
 public:
  static constexpr TGUID kIID = kIID_IExtra;
  virtual std::int32_t Answer() = 0;

 protected:
  ~IExtra() = default;
};

struct NotAnException {};

// The data module: its constructor fails as the test says.
class TdmTeste : public com::TInterfacedComponent<IExtra> {
 public:
  TdmTeste() {
    ++attempts;
    if (failuresLeft > 0) {
      --failuresLeft;
      if (throwNonStandard) throw NotAnException{};
      throw std::runtime_error("falha " + std::to_string(attempts));
    }
  }
  ~TdmTeste() override { ++destroyed; }
  std::int32_t Answer() override { return 42; }
  std::string Echo(const std::string& text) { return Name() + ":" + text; }

  static inline int attempts = 0;
  static inline int failuresLeft = 0;
  static inline bool throwNonStandard = false;
  static inline int destroyed = 0;
};

struct BugReport {
  std::string failureClass, message, module, className;
};

class VCLAutoObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TdmTeste::attempts = TdmTeste::failuresLeft = TdmTeste::destroyed = 0;
    TdmTeste::throwNonStandard = false;
    CreationEnvironment() = {&clock_, [this](std::string_view failureClass, std::string_view message,
                                             std::string_view module, std::string_view className) {
                               if (failReport_) throw std::runtime_error("disco cheio");
                               reports_.push_back({std::string(failureClass), std::string(message),
                                                   std::string(module), std::string(className)});
                             }};
  }
  void TearDown() override {
    CreationEnvironment() = DefaultCreationEnvironment();
    EXPECT_EQ(com::LiveComObjectCount(), liveBefore_) << "an object leaked";
  }

  com::TAutoObjectFactory factory_ = VCLAutoObjectFactoryOf<TdmTeste>(
      {kCLSID_dmTeste, "dmTeste", "QarTeste.dmTeste", "M\xF3" "dulo de teste", "Free"},
      com::TTypeInfoBuilder<TdmTeste>("IdmTeste", kIID_IdmTeste).Method(1, "Echo", &TdmTeste::Echo).Build());
  std::int64_t liveBefore_ = com::LiveComObjectCount();
  platform::SimulatedClock clock_{platform::EncodeDateTime({2026, 12, 5, 9, 0, 0, 0})};
  std::vector<BugReport> reports_;
  bool failReport_ = false;
};

TEST_F(VCLAutoObjectTest, OneFailureWritesOneReportRetriesAtOnceAndOwnsTheComponent) {
  TdmTeste::failuresLeft = 1;
  platform::SetShortDateFormat("yyyy-MM-dd", '-');
  TComPtr<IUnknown> object = factory_.CreateComObject();
  auto* autoObject = static_cast<TVCLAutoObject*>(static_cast<com::TComObject*>(object.Get()));
  EXPECT_EQ(TdmTeste::attempts, 2);
  EXPECT_EQ(clock_.SleepCount(), 0u);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].failureClass, "runtime_error");
  EXPECT_EQ(reports_[0].message, "falha 1");
  EXPECT_EQ(reports_[0].module, platform::ModuleFileNameOf(&kCLSID_dmTeste));
  EXPECT_EQ(reports_[0].className, "dmTeste");
  EXPECT_EQ(platform::ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(factory_.ThreadingModel(), "Apartment");  // its calls must take turns
  ASSERT_NE(autoObject->Component(), nullptr);
  EXPECT_TRUE(autoObject->OwnsComponent());
  EXPECT_EQ(autoObject->Component()->VCLComObject(), static_cast<IUnknown*>(static_cast<IVCLComObject*>(autoObject)));
  object.Reset();
  EXPECT_EQ(TdmTeste::destroyed, 1);
}

TEST_F(VCLAutoObjectTest, CreationGivesUpAfterFiveAttemptsAndThreeWaits) {
  TdmTeste::failuresLeft = 100;
  try {
    factory_.CreateComObject();
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "falha 5");
  }
  EXPECT_EQ(TdmTeste::attempts, 5);
  EXPECT_EQ(reports_.size(), 1u);
  EXPECT_EQ(clock_.SleepCount(), 3u);
  EXPECT_EQ(clock_.Now(), platform::EncodeDateTime({2026, 12, 5, 9, 0, 3, 0}));
}

TEST_F(VCLAutoObjectTest, WhatIsNoExceptionOrAFailedReportEndsCreationAtOnce) {
  TdmTeste::failuresLeft = 100;
  TdmTeste::throwNonStandard = true;
  EXPECT_THROW(factory_.CreateComObject(), NotAnException);
  EXPECT_EQ(TdmTeste::attempts, 1);
  EXPECT_TRUE(reports_.empty());

  TdmTeste::attempts = 0;
  TdmTeste::throwNonStandard = false;
  failReport_ = true;
  EXPECT_THROW(factory_.CreateComObject(), std::runtime_error);
  EXPECT_EQ(TdmTeste::attempts, 1);
  EXPECT_EQ(clock_.SleepCount(), 0u);
}

TEST_F(VCLAutoObjectTest, AQueryOnlyTheComponentAnswersSucceedsThroughTheObject) {
  TComPtr<IUnknown> object = factory_.CreateComObject();
  auto* autoObject = static_cast<com::TComObject*>(object.Get());
  TComPtr<IExtra> extra = object.As<IExtra>();
  ASSERT_TRUE(extra);
  EXPECT_EQ(extra->Answer(), 42);
  EXPECT_EQ(autoObject->RefCount(), 2u);  // the component counts on its object
  EXPECT_EQ(extra.As<IUnknown>(), object);
  extra.Reset();
  EXPECT_EQ(autoObject->RefCount(), 1u);
  void* neither = &neither;
  EXPECT_EQ(object->QueryInterface(TGUID::Parse("{00000000-0000-0000-0000-0000000000AA}"), &neither),
            com::kE_NOINTERFACE);
  EXPECT_EQ(neither, nullptr);
  EXPECT_EQ(com::CallByName(*object.As<com::IDispatch>(), "ECHO", {"oi"}), Variant(":oi"));
}

TEST_F(VCLAutoObjectTest, AWrappedComponentSurvivesItsObjectUnlessHandedOver) {
  InitializeVCLCom();
  TComponent owner;
  auto& module = owner.CreateComponent<TdmTeste>();
  module.SetName("dmVendas");
  {
    TComPtr<IUnknown> object = module.ComObject();
    EXPECT_NE(module.VCLComObject(), nullptr);
    EXPECT_EQ(module.ComObject().As<IUnknown>(), object);
    EXPECT_EQ(com::CallByName(*object.As<com::IDispatch>(), "Echo", {"x"}), Variant("dmVendas:x"));
  }
  EXPECT_EQ(module.VCLComObject(), nullptr);
  EXPECT_EQ(TdmTeste::destroyed, 0);
  {
    TComPtr<IVCLComObject> object = module.ComObject().As<IVCLComObject>();
    object->FreeOnRelease();
  }
  EXPECT_EQ(TdmTeste::destroyed, 1);
  EXPECT_EQ(owner.ComponentCount(), 0);

  TComponent unregistered;
  try {
    unregistered.ComObject();
    ADD_FAILURE() << "no failure";
  } catch (const com::EOleError& e) {
    EXPECT_EQ(e.Code(), com::kCLASS_E_CLASSNOTAVAILABLE);
  }
  FinalizeVCLCom();
}

TEST(VCLComUnitTest, OnlyTheFirstInitializationAndTheLastFinalizationDoTheWork) {
  ASSERT_EQ(CreateVCLComObjectProc.load(), nullptr);
  InitializeVCLCom();
  InitializeVCLCom();
  EXPECT_EQ(CreateVCLComObjectProc.load(), &CreateAutoObjectForComponent);
  EXPECT_EQ(diagnostics::ModuleShortName(), diagnostics::ShortNameOfModule(platform::ExecutableFileName()));
  FinalizeVCLCom();
  EXPECT_EQ(CreateVCLComObjectProc.load(), &CreateAutoObjectForComponent);
  FinalizeVCLCom();
  EXPECT_EQ(CreateVCLComObjectProc.load(), nullptr);
  FinalizeVCLCom();  // one too many changes nothing
  InitializeVCLCom();
  EXPECT_EQ(CreateVCLComObjectProc.load(), &CreateAutoObjectForComponent);
  FinalizeVCLCom();
}

}  // namespace
}  // namespace qar::automation
