// Automation objects made by their factories: queries, reference counts, the class
// manager's lookups and late-bound calls by name.
#include <gtest/gtest.h>

#include <stdexcept>

#include "com/auto_object.h"
#include "com/class_manager.h"
#include "com/dispatch_client.h"
#include "com/type_info.h"
#include "platform/module.h"

namespace qar::com {
namespace {

constexpr TGUID kCLSID_Calc = TGUID::Parse("{3F2A1B0C-5D6E-4F70-8192-A3B4C5D6E7F8}");
constexpr TGUID kIID_ICalc = TGUID::Parse("{3F2A1B0C-5D6E-4F70-8192-A3B4C5D6E7F9}");
constexpr TGUID kIID_IOther = TGUID::Parse("{3F2A1B0C-5D6E-4F70-8192-A3B4C5D6E7FA}");

class TCalc : public TAutoObject {
 public:
  using TAutoObject::TAutoObject;
  void Initialize() override {
    if (failInitialize) throw std::runtime_error("no start");
  }
  std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b + offset_; }
  void Remember(std::int32_t value) { offset_ = value; }
  void Fail() { throw EOleError(kE_INVALIDARG, "Valor inv\xE1lido"); }
  static inline bool failInitialize = false;

 private:
  std::int32_t offset_ = 0;
};

TComPtr<ITypeInfo> CalcTypeInfo() {
  return TTypeInfoBuilder<TCalc>("ICalc", kIID_ICalc)
      .Method(1, "Add", &TCalc::Add)
      .Method(2, "Remember", &TCalc::Remember)
      .Method(3, "Fail", &TCalc::Fail)
      .Build();
}

class AutoObjectTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(LiveComObjectCount(), liveBefore_) << "an object leaked"; }
  TAutoObjectFactory factory_ = AutoObjectFactoryOf<TCalc>(
      {kCLSID_Calc, "Calc", "QarTeste.Calc", "Calculadora"}, CalcTypeInfo());
  std::int64_t liveBefore_ = LiveComObjectCount();  // the type information is one
};

TEST_F(AutoObjectTest, CallsByNameKeepTheObjectsStateAndItsErrors) {
  TComPtr<IDispatch> calc = CreateOleObject("qarteste.CALC");
  EXPECT_EQ(CallByName(*calc, "add", {40, 2}), Variant(42));
  CallByName(*calc, "Remember", {100});
  EXPECT_EQ(CallByName(*calc, "Add", {1, "2"}), Variant(103));
  try {
    CallByName(*calc, "Fail", {});
    ADD_FAILURE() << "no failure";
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "Valor inv\xE1lido");
    EXPECT_EQ(e.Code(), kE_INVALIDARG);
    EXPECT_EQ(e.Source(), "ICalc");
  }
  try {
    CallByName(*calc, "Add", {1});
    ADD_FAILURE() << "no failure";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), kDISP_E_BADPARAMCOUNT);
  }
  EXPECT_THROW(CallByName(*calc, "Subtract", {}), EOleError);
  try {
    CreateOleObject("QarTeste.Nada");
    ADD_FAILURE() << "no failure";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), kREGDB_E_CLASSNOTREG);
  }
}

TEST_F(AutoObjectTest, QueriesAnswerTheDeclaredInterfacesAndCountReferences) {
  TComPtr<IUnknown> object = factory_.CreateComObject();
  EXPECT_EQ(static_cast<TComObject*>(object.Get())->RefCount(), 1u);
  {
    TComPtr<IDispatch> dispatch = object.As<IDispatch>();
    ASSERT_TRUE(dispatch);
    TComPtr<IDispatch> byInterfaceId;
    EXPECT_EQ(object->QueryInterface(kIID_ICalc, byInterfaceId.PutVoid()), kS_OK);
    EXPECT_EQ(byInterfaceId, dispatch);
    EXPECT_EQ(static_cast<TComObject*>(object.Get())->RefCount(), 3u);
    // Every interface leads back to the same identity.
    EXPECT_EQ(dispatch.As<IUnknown>(), object);
  }
  void* other = &other;
  EXPECT_EQ(object->QueryInterface(kIID_IOther, &other), kE_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(static_cast<TComObject*>(object.Get())->RefCount(), 1u);
  TComPtr<IUnknown> second = factory_.CreateComObject();
  second = object;  // the second object goes
  EXPECT_EQ(LiveComObjectCount(), liveBefore_ + 1);

  TComPtr<IDispatch> dispatch = object.As<IDispatch>();
  std::uint32_t count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), kS_OK);
  EXPECT_EQ(count, 1u);
  TComPtr<ITypeInfo> info;
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, info.Put()), kS_OK);
  EXPECT_EQ(info.Get(), factory_.ClassTypeInfo());
  EXPECT_EQ(dispatch->GetTypeInfo(1, 0, info.Put()), kDISP_E_BADINDEX);
}

TEST_F(AutoObjectTest, AFailedInitializationFreesTheObjectAndReachesTheCreator) {
  TCalc::failInitialize = true;
  EXPECT_THROW(factory_.CreateComObject(), std::runtime_error);
  TCalc::failInitialize = false;
}

TEST_F(AutoObjectTest, TheClassManagerFindsAFactoryOnlyWhileItExists) {
  EXPECT_EQ(ComClassManager().GetFactoryFromClassID(kCLSID_Calc), &factory_);
  EXPECT_EQ(ComClassManager().GetFactoryFromProgID("QARTESTE.calc"), &factory_);
  EXPECT_EQ(factory_.DispIntfIID(), kIID_ICalc);
  EXPECT_EQ(factory_.ModuleFileName(), platform::ModuleFileNameOf(&kCLSID_Calc));
  {
    TAutoObjectFactory second = AutoObjectFactoryOf<TCalc>(
        {TGUID::Parse("{00000001-0000-0000-0000-000000000000}"), "Calc2", "QarTeste.Calc2", ""}, nullptr);
    EXPECT_EQ(ComClassManager().GetFactoryFromProgID("QarTeste.Calc2"), &second);
  }
  EXPECT_EQ(ComClassManager().GetFactoryFromProgID("QarTeste.Calc2"), nullptr);
  // A component finds the factory registered for its own class.
  struct TdmA : TComponent {};
  struct TdmB : TComponent {};
  const auto factoryOf = [](const char* id, TComponentClass componentClass) {
    return std::make_unique<TComObjectFactory>(TFactoryInfo{TGUID::Parse(id), componentClass.Name, componentClass.Name, ""},
                                               nullptr, nullptr, std::move(componentClass));
  };
  const auto a = factoryOf("{00000002-0000-0000-0000-000000000000}", TComponentClass::Of<TdmA>("TdmA"));
  const auto b = factoryOf("{00000003-0000-0000-0000-000000000000}", TComponentClass::Of<TdmB>("TdmB"));
  TdmB dmB;
  EXPECT_EQ(&ComClassManager().GetFactoryFromClass(dmB), b.get());
  TComponent plain;
  try {
    ComClassManager().GetFactoryFromClass(plain);
    ADD_FAILURE() << "no failure";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Code(), kCLASS_E_CLASSNOTAVAILABLE);
  }
}

TEST(DispArgsTest, TheCallerKeepsTheLastArgumentFirstAndSeesALoweredCount) {
  TDispArgs args{"identidade", 1, 2};
  TDispParams& params = args.Params();
  ASSERT_EQ(params.ArgCount, 3u);
  EXPECT_EQ(params.Args[2], Variant("identidade"));
  EXPECT_EQ(params.Args[0], Variant(2));
  TDispParams& callee = params;  // a callee hides the leading argument
  callee.ArgCount -= 1;
  EXPECT_EQ(args.Params().ArgCount, 2u);
  EXPECT_EQ(args[1], Variant(1));
}

}  // namespace
}  // namespace qar::com
