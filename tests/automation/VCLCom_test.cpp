// The automation object that wraps a component: creation with retries in simulated
// time, the query that falls through to the component, ownership and the slot, and
// the unit's counted start-up.
#include "automation/VCLCom.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "com/dispatch_client.h"
#include "com/interfaced_component.h"
#include "com/type_info.h"
#include "../diagnostics/diagnostics_sandbox.h"
#include "mts_test_support.h"
#include "platform/module.h"

namespace qar::automation {
namespace {

constexpr TGUID kCLSID_dmTeste = TGUID::Parse("{9A8B7C6D-5E4F-4031-8291-A0B1C2D3E4F7}");

// An interface that only the component implements.
class IExtra : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{9A8B7C6D-5E4F-4031-8291-A0B1C2D3E4F5}");
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

  static inline int attempts = 0, failuresLeft = 0, destroyed = 0;
  static inline bool throwNonStandard = false;
};

class VCLAutoObjectTest : public diagnostics::testing::DiagnosticsSandbox {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    TdmTeste::attempts = TdmTeste::failuresLeft = TdmTeste::destroyed = 0;
    TdmTeste::throwNonStandard = false;
    factory_.Environment().creation = {&clock_, [this](std::string_view failureClass, std::string_view message,
                                             std::string_view module, std::string_view className) {
                               if (failReport_) throw std::runtime_error("disco cheio");
                               reports_ += std::string(failureClass) + "|" + std::string(message) + "|" +
                                           std::string(module) + "|" + std::string(className) + ";";
                             }};
  }
  void TearDown() override {
    EXPECT_EQ(com::LiveComObjectCount(), liveBefore_) << "an object leaked";
    DiagnosticsSandbox::TearDown();
  }

  TVCLAutoObjectFactory factory_ = VCLAutoObjectFactoryOf<TdmTeste>(
      {kCLSID_dmTeste, "dmTeste", "QarTeste.dmTeste", "M\xF3" "dulo de teste", "Free"},
      com::TTypeInfoBuilder<TdmTeste>("IdmTeste", TGUID::Parse("{9A8B7C6D-5E4F-4031-8291-A0B1C2D3E4F6}"))
          .Method(1, "Echo", &TdmTeste::Echo)
          .Build());
  std::int64_t liveBefore_ = com::LiveComObjectCount();
  platform::SimulatedClock clock_{platform::EncodeDateTime({2026, 12, 5, 9, 0, 0, 0})};
  std::string reports_;
  bool failReport_ = false;
};

// A report after the first failure, at once a second attempt, then 1 s before each of
// the last three; what is no exception, or a failed report, ends creation at once.
TEST_F(VCLAutoObjectTest, CreationRetriesFiveTimesWithOneReportAndThreeWaits) {
  const std::string report = "runtime_error|falha 1|" + platform::ModuleFileNameOf(&kCLSID_dmTeste) + "|dmTeste;";
  const struct {
    int failures;
    bool nonStandard, failReport;
    int attempts;
    std::string reports;
    std::size_t sleeps;
    const char* thrown;  // nullptr: created
  } cases[] = {
      {1, false, false, 2, report, 0, nullptr},
      {100, false, false, 5, report, 3, "falha 5"},
      {100, true, false, 1, "", 0, "not an exception"},
      {100, false, true, 1, "", 0, "disco cheio"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attempts);
    TdmTeste::attempts = 0;
    TdmTeste::failuresLeft = c.failures;
    TdmTeste::throwNonStandard = c.nonStandard;
    failReport_ = c.failReport;
    reports_.clear();
    const std::size_t sleepsBefore = clock_.SleepCount();
    std::string thrown;
    try {
      factory_.CreateComObject();
    } catch (const std::runtime_error& e) {
      thrown = e.what();
    } catch (const NotAnException&) {
      thrown = "not an exception";
    }
    EXPECT_EQ(thrown, c.thrown ? c.thrown : "");
    EXPECT_EQ(TdmTeste::attempts, c.attempts);
    EXPECT_EQ(reports_, c.reports);
    EXPECT_EQ(clock_.SleepCount() - sleepsBefore, c.sleeps);
  }
  EXPECT_EQ(clock_.Now(), platform::EncodeDateTime({2026, 12, 5, 9, 0, 3, 0}));
}

TEST_F(VCLAutoObjectTest, TheObjectOwnsItsComponentAndQueriesFallThroughToIt) {
  platform::SetShortDateFormat("yyyy-MM-dd", '-');
  TComPtr<IUnknown> object = factory_.CreateComObject();
  auto* autoObject = static_cast<TVCLAutoObject*>(static_cast<com::TComObject*>(object.Get()));
  EXPECT_EQ(platform::ShortDateFormat(), "dd/MM/yyyy");
  EXPECT_EQ(factory_.ThreadingModel(), "Apartment");  // its calls must take turns
  EXPECT_EQ(autoObject->Component()->VCLComObject(), static_cast<IUnknown*>(static_cast<IVCLComObject*>(autoObject)));
  TComPtr<IExtra> extra = object.As<IExtra>();
  ASSERT_TRUE(extra);
  EXPECT_EQ(extra->Answer(), 42);
  EXPECT_EQ(autoObject->RefCount(), 2u);  // the component counts on its object
  EXPECT_EQ(extra.As<IUnknown>(), object);
  extra.Reset();
  void* neither = &neither;
  EXPECT_EQ(object->QueryInterface(TGUID::Parse("{00000000-0000-0000-0000-0000000000AA}"), &neither),
            com::kE_NOINTERFACE);
  EXPECT_EQ(neither, nullptr);
  testing::TInstalledObjectContext installed(factory_);  // a component that is no transactional module never votes
  testing::gEvents.clear();
  EXPECT_EQ(com::CallByName(*object.As<com::IDispatch>(), "ECHO", {"oi"}), Variant(":oi"));
  EXPECT_EQ(testing::gEvents, "");
  object.Reset();
  EXPECT_EQ(TdmTeste::destroyed, 1);
}

TEST_F(VCLAutoObjectTest, AWrappedComponentSurvivesItsObjectUnlessHandedOver) {
  InitializeVCLCom();
  InitializeVCLCom();  // counted: only the last of two finalisations removes the hook
  FinalizeVCLCom();
  TComponent owner;
  auto& module = owner.CreateComponent<TdmTeste>();
  module.SetName("dmVendas");
  {
    TComPtr<IUnknown> object = module.ComObject();
    EXPECT_EQ(module.ComObject().As<IUnknown>(), object);
    EXPECT_EQ(com::CallByName(*object.As<com::IDispatch>(), "Echo", {"x"}), Variant("dmVendas:x"));
  }
  EXPECT_EQ(module.VCLComObject(), nullptr);
  EXPECT_EQ(TdmTeste::destroyed, 0);
  module.ComObject().As<IVCLComObject>()->FreeOnRelease();
  EXPECT_EQ(TdmTeste::destroyed, 1);
  EXPECT_EQ(owner.ComponentCount(), 0);
  try {
    TComponent().ComObject();
    ADD_FAILURE() << "no failure";
  } catch (const com::EOleError& e) {
    EXPECT_EQ(e.Code(), com::kCLASS_E_CLASSNOTAVAILABLE);
  }
  FinalizeVCLCom();
  EXPECT_EQ(CreateVCLComObjectProc.load(), nullptr);
  FinalizeVCLCom();  // one too many changes nothing
  InitializeVCLCom();
  EXPECT_EQ(CreateVCLComObjectProc.load(), &CreateAutoObjectForComponent);
  FinalizeVCLCom();
}

// A component freed before its object: the object forgets it, a later call fails with
// a description and the object's end touches nothing. A component takes one object.
TEST_F(VCLAutoObjectTest, AComponentFreedFirstLeavesItsObjectFailingCleanly) {
  InitializeVCLCom();
  auto module = std::make_unique<TdmTeste>();
  TComPtr<IUnknown> object = module->ComObject();
  EXPECT_THROW(com::NewComObject<TVCLAutoObject>(factory_, module.get()), EComponentError);
  EXPECT_EQ(module->ComObject().As<IUnknown>(), object);  // the first object keeps the slot
  module.reset();
  try {
    com::CallByName(*object.As<com::IDispatch>(), "Echo", {"x"});
    ADD_FAILURE() << "no failure";
  } catch (const com::EOleError& e) {
    EXPECT_EQ(e.Code(), com::kE_UNEXPECTED);
    EXPECT_EQ(std::string(e.what()), "The component of this dmTeste object was destroyed; the object cannot be called");
  }
  object.Reset();
  FinalizeVCLCom();
}

// An object whose exception record carries no failure code still fails its caller.
TEST(CallByNameTest, AnExceptionRecordWithoutACodeIsAFailure) {
  struct TSilent : com::TImplements<com::TComObject, com::IDispatch> {
    HResult GetTypeInfoCount(std::uint32_t*) override { return com::kE_NOTIMPL; }
    HResult GetTypeInfo(std::uint32_t, com::LocaleId, com::ITypeInfo**) override { return com::kE_NOTIMPL; }
    HResult GetIDsOfNames(const TGUID&, const std::string*, std::uint32_t, com::LocaleId, com::DispId* ids) override {
      *ids = 1;
      return com::kS_OK;
    }
    HResult Invoke(com::DispId, const TGUID&, com::LocaleId, std::uint16_t, com::TDispParams&, Variant*,
                   com::TExcepInfo* excepInfo, std::uint32_t*) override {
      excepInfo->Description = "sem codigo";
      return com::kDISP_E_EXCEPTION;
    }
  };
  TComPtr<TSilent> silent = com::NewComObject<TSilent>();
  try {
    com::CallByName(*silent, "Nada", {});
    ADD_FAILURE() << "no failure";
  } catch (const com::EOleError& e) {
    EXPECT_EQ(e.Code(), com::kE_FAIL);
    EXPECT_EQ(std::string(e.what()), "sem codigo");
  }
}

}  // namespace
}  // namespace qar::automation
