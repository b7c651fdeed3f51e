// Automation objects made by their factories: DispInvoke's conventions, type information,
// queries and reference counts, a factory found while it is removed and late-bound calls by name.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <thread>

#include "com/auto_object.h"
#include "com/class_manager.h"
#include "com/dispatch_client.h"
#include "com/type_info.h"

namespace qar::com {
namespace {

constexpr TGUID kCLSID_Calc = TGUID::Parse("{3F2A1B0C-5D6E-4F70-8192-A3B4C5D6E7F8}");
constexpr TGUID kIID_ICalc = TGUID::Parse("{3F2A1B0C-5D6E-4F70-8192-A3B4C5D6E7F9}");

class TCalc : public TAutoObject {
 public:
  using TAutoObject::TAutoObject;
  void Initialize() override {
    if (failInitialize) throw std::runtime_error("no start");
  }
  std::string Concat(const std::string& a, const std::string& b) { return a + b; }
  std::int32_t Add(std::int32_t a, std::int32_t b) const { return a + b + offset_; }
  bool IsNull(Variant value) { return value.IsNull(); }
  // Assigns an in-out argument, as a script variable allows.
  void Increment(Variant& value) { value = value.AsInteger() + 1; }
  std::int64_t Int64Of(std::int64_t value) { return value; }
  std::uint64_t UInt64Of(std::uint64_t value) { return value; }
  void Keep(Variant value) { kept = std::move(value); }
  Variant kept;
  void Remember(std::int32_t value) { offset_ = value; }
  void Fail(const std::string& message) { throw std::runtime_error(message); }
  void FailWithCode() { throw EOleError(kE_INVALIDARG, "Valor inv\xE1lido"); }
  void Cast() { TComPtr<IUnknown>(static_cast<TComObject*>(this)).As<ITypeInfo>(); }
  static inline bool failInitialize = false;

 private:
  std::int32_t offset_ = 0;
};

// The code of the automation error `call` raises (0: none).
template <class F>
HResult CodeOf(F call) {
  try {
    call();
  } catch (const EOleError& e) {
    return e.Code();
  }
  return 0;
}

class DispatchTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(LiveComObjectCount(), liveBefore_) << "an object leaked"; }
  TAutoObjectFactory factory_ = AutoObjectFactoryOf<TCalc>({kCLSID_Calc, "Calc", "QarTeste.Calc", "Calculadora"},
                                                           TTypeInfoBuilder<TCalc>("ICalc", kIID_ICalc)
                                                               .Method(1, "Concat", &TCalc::Concat)
                                                               .Method(2, "Add", &TCalc::Add)
                                                               .Method(3, "IsNull", &TCalc::IsNull)
                                                               .Method(4, "Increment", &TCalc::Increment)
                                                               .Method(5, "Fail", &TCalc::Fail)
                                                               .Method(6, "FailWithCode", &TCalc::FailWithCode)
                                                               .Method(7, "Remember", &TCalc::Remember)
                                                               .Method(8, "Int64Of", &TCalc::Int64Of)
                                                               .Method(9, "UInt64Of", &TCalc::UInt64Of)
                                                               .Method(10, "Keep", &TCalc::Keep)
                                                               .Method(11, "Cast", &TCalc::Cast)
                                                               .Build());
  std::int64_t liveBefore_ = LiveComObjectCount();  // the type information is one
};

// Arguments in call order; argErr is the failing argument's index as the caller keeps
// them (last first); a result of the declared type; a failure's description and code.
TEST_F(DispatchTest, InvokeConvertsArgumentsReportsTheFailingIndexAndDescribesFailures) {
  constexpr std::uint64_t kMax = UINT64_MAX;
  Variant variable = 5;
  Variant reference = Variant::ByRef(variable);
  Variant loop;
  loop = Variant::ByRef(loop);
  const struct {
    const char* label;
    DispId id;
    std::vector<Variant> args;
    HResult expected;
    Variant result;
    std::uint32_t argErr = 99;
    std::uint16_t flags = kDispatchMethod;
    bool named = false;
    std::string description = "";
    HResult scode = 0;
  } cases[] = {
      {"first argument first", 1, {"ab", "cd"}, kS_OK, "abcd"},
      {"text converted, an integer result", 2, {2, "40"}, kS_OK, 42, 99, kDispatchPropertyGet | kDispatchMethod},
      {"fraction rounds half to even", 2, {2.5, 0}, kS_OK, 2},
      {"too few", 2, {1}, kDISP_E_BADPARAMCOUNT, {}},
      {"too many", 2, {1, 2, 3}, kDISP_E_BADPARAMCOUNT, {}},
      {"bad second argument is index 0", 2, {1, "x"}, kDISP_E_TYPEMISMATCH, {}, 0},
      {"bad first argument is index 1", 2, {"x", 1}, kDISP_E_TYPEMISMATCH, {}, 1},
      {"null to an integer", 2, {Variant::Null(), 1}, kDISP_E_TYPEMISMATCH, {}, 1},
      {"out of the 32-bit range", 2, {1, 3e10}, kDISP_E_OVERFLOW, {}, 0},
      {"omitted typed argument", 2, {Variant::Error(kDISP_E_PARAMNOTFOUND), 1}, kDISP_E_PARAMNOTOPTIONAL, {}, 1},
      {"null reaches a variant parameter", 3, {Variant::Null()}, kS_OK, true},
      {"unknown identifier", 99, {}, kDISP_E_MEMBERNOTFOUND, {}},
      {"no property put", 2, {1, 2}, kDISP_E_MEMBERNOTFOUND, {}, 99, kDispatchPropertyPut},
      {"no named arguments", 2, {1, 2}, kDISP_E_NONAMEDARGS, {}, 99, kDispatchMethod, true},
      {"written through a reference", 4, {Variant::ByRef(variable)}, kS_OK, {}},
      {"read through a reference", 2, {Variant::ByRef(variable), 1}, kS_OK, 7},
      {"written through a reference to a reference", 4, {Variant::ByRef(reference)}, kS_OK, {}},
      {"read through a reference to a reference", 2, {Variant::ByRef(reference), 0}, kS_OK, 7},
      {"2^63 is beyond Int64", 8, {9223372036854775808.0}, kDISP_E_OVERFLOW, {}, 0},
      {"-2^63 is Int64", 8, {-9223372036854775808.0}, kS_OK, Variant(INT64_MIN)},
      {"2^63 reaches UInt64", 9, {9223372036854775808.0}, kS_OK, Variant(std::uint64_t{1} << 63)},
      {"2^64-1 reaches UInt64", 9, {Variant(kMax)}, kS_OK, Variant(kMax)},
      {"2^64-1 as text reaches UInt64", 9, {"18446744073709551615"}, kS_OK, Variant(kMax)},
      {"2^64-1 is beyond Int64", 8, {Variant(kMax)}, kDISP_E_OVERFLOW, {}, 0},
      {"2^64-1 is beyond Integer", 2, {Variant(kMax), 1}, kDISP_E_OVERFLOW, {}, 1},
      {"-1 is beyond UInt64", 9, {-1}, kDISP_E_OVERFLOW, {}, 0},
      {"NaN is beyond Int64", 8, {std::nan("")}, kDISP_E_OVERFLOW, {}, 0},
      {"a NaN date reaches no Variant", 10, {Variant::FromDate(std::nan(""))}, kDISP_E_OVERFLOW, {}, 0},
      {"a date after 9999 becomes no text", 1, {Variant::FromDate(3e6), "x"}, kDISP_E_OVERFLOW, {}, 1},
      {"a reference that leads back to itself", 2, {Variant::ByRef(loop), 1}, kDISP_E_TYPEMISMATCH, {}, 1},
      {"an infinite date in an array", 10, {Variant::Array({Variant::FromDate(HUGE_VAL)})}, kDISP_E_OVERFLOW, {}, 0},
      {"exception", 5, {"N\xE3o h\xE1 estoque"}, kDISP_E_EXCEPTION, {}, 99, 1, false, "N\xE3o h\xE1 estoque", kE_FAIL},
      {"exception with a code", 6, {}, kDISP_E_EXCEPTION, {}, 99, 1, false, "Valor inv\xE1lido", kE_INVALIDARG},
      {"a failed cast", 11, {}, kDISP_E_EXCEPTION, {}, 99, 1, false, "Interface not supported", kE_NOINTERFACE},
  };
  TComPtr<IDispatch> calc = factory_.CreateComObject().As<IDispatch>();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TDispArgs args(c.args);
    DispId named = 0;
    if (c.named) args.Params().NamedArgs = &named, args.Params().NamedArgCount = 1;
    Variant result = "untouched";
    std::uint32_t argErr = 99;
    TExcepInfo excepInfo;
    EXPECT_EQ(calc->Invoke(c.id, TGUID{}, 0, c.flags, args.Params(), &result, &excepInfo, &argErr), c.expected);
    EXPECT_EQ(argErr, c.argErr);
    EXPECT_EQ(result, c.expected == kS_OK ? c.result : Variant("untouched"));
    EXPECT_EQ(result.VarType(), c.expected == kS_OK ? c.result.VarType() : kVarOleStr);
    EXPECT_EQ(excepInfo.Description + "/" + excepInfo.Source, c.description + (c.scode ? "/ICalc" : "/"));
    EXPECT_EQ(excepInfo.SCode, c.scode);
  }
}

// Calls by name on an object made by its ProgID (any case) keep the object's state; a
// method's failure comes with its description, source and code; a wrong count, an unknown
// member and an unknown class each give the system's code.
TEST_F(DispatchTest, CallsByNameKeepTheObjectsStateAndItsErrors) {
  TComPtr<IDispatch> calc = CreateOleObject("qarteste.CALC");
  EXPECT_EQ(CallByName(*calc, "add", {40, 2}), Variant(42));
  CallByName(*calc, "Remember", {100});
  EXPECT_EQ(CallByName(*calc, "Add", {1, "2"}), Variant(103));
  try {
    CallByName(*calc, "FailWithCode", {});
    ADD_FAILURE() << "no failure";
  } catch (const EOleException& e) {
    EXPECT_EQ(std::string(e.what()) + "/" + e.Source(), "Valor inv\xE1lido/ICalc");
    EXPECT_EQ(e.Code(), kE_INVALIDARG);
  }
  EXPECT_EQ(CodeOf([&] { CallByName(*calc, "Add", {1}); }), kDISP_E_BADPARAMCOUNT);
  EXPECT_EQ(CodeOf([&] { CallByName(*calc, "Subtract", {}); }), kDISP_E_UNKNOWNNAME);
  EXPECT_EQ(CodeOf([] { CreateOleObject("QarTeste.Nada"); }), kREGDB_E_CLASSNOTREG);
}

// A failed initialization frees the object (TearDown counts) and reaches the creator.
TEST_F(DispatchTest, AFailedInitializationFreesTheObjectAndReachesTheCreator) {
  TCalc::failInitialize = true;
  EXPECT_THROW(factory_.CreateComObject(), std::runtime_error);
  TCalc::failInitialize = false;
}

// Names for the monitor's log come through these; parameters have no names of their own.
TEST_F(DispatchTest, TypeInformationNamesTheInterfaceAndOnlyItsMembers) {
  ITypeInfo* info = factory_.ClassTypeInfo();
  const std::string names[] = {"Add", "Nada"};
  DispId ids[2] = {};
  EXPECT_EQ(info->GetIDsOfNames(&names[1], 1, ids), kDISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], kDispIdUnknown);
  EXPECT_EQ(info->GetIDsOfNames(&names[0], 2, ids), kDISP_E_UNKNOWNNAME);
  EXPECT_EQ(std::vector<DispId>(ids, ids + 2), (std::vector<DispId>{2, kDispIdUnknown}));
  std::string type;
  EXPECT_EQ(info->GetDocumentation(kMemberIdNil, &type, nullptr, nullptr, nullptr), kS_OK);
  EXPECT_EQ(type, "ICalc");
  EXPECT_EQ(info->GetDocumentation(42, &type, nullptr, nullptr, nullptr), kTYPE_E_ELEMENTNOTFOUND);
}

TEST_F(DispatchTest, QueriesAnswerTheDeclaredInterfacesAndCountReferences) {
  TComPtr<IUnknown> object = factory_.CreateComObject();
  const auto refs = [&] { return static_cast<TComObject*>(object.Get())->RefCount(); };
  {
    TComPtr<IDispatch> dispatch = object.As<IDispatch>(), byInterfaceId;
    EXPECT_EQ(object->QueryInterface(kIID_ICalc, byInterfaceId.PutVoid()), kS_OK);
    EXPECT_EQ(byInterfaceId, dispatch);
    EXPECT_EQ(refs(), 3u);
    EXPECT_EQ(dispatch.As<IUnknown>(), object);  // every interface leads back to the same identity
  }
  void* other = &other;
  EXPECT_EQ(object->QueryInterface(TGUID::Parse("{3F2A1B0C-5D6E-4F70-8192-A3B4C5D6E7FA}"), &other), kE_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  // A cast to an interface the object does not answer: As throws, TryAs gives null.
  EXPECT_THROW(object.As<ITypeInfo>(), EIntfCastError);
  EXPECT_EQ(object.TryAs<ITypeInfo>(), nullptr);
  EXPECT_EQ(refs(), 1u);
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

// A method may keep what a Variant parameter received: it is a copy, never the
// caller's reference (nor a reference inside an array).
TEST_F(DispatchTest, AVariantParameterKeepsNothingOfTheCaller) {
  TComPtr<IUnknown> object = factory_.CreateComObject();
  auto* calc = static_cast<TCalc*>(static_cast<TComObject*>(object.Get()));
  auto variable = std::make_unique<Variant>("valor");
  Variant reference = Variant::ByRef(*variable);
  TDispArgs args{Variant::Array({Variant::ByRef(reference)})};
  EXPECT_EQ(object.As<IDispatch>()->Invoke(10, TGUID{}, 0, kDispatchMethod, args.Params(), nullptr, nullptr, nullptr),
            kS_OK);
  variable.reset();
  EXPECT_EQ(calc->kept, Variant::Array({"valor"}));
}

TEST(TypeInfoTest, AnIdentifierOrANameIsBoundOnce) {
  EXPECT_THROW(TTypeInfoBuilder<TCalc>("ICalc", kIID_ICalc).Method(1, "Add", &TCalc::Add).Method(1, "Sub", &TCalc::Add),
               std::logic_error);
  EXPECT_THROW(TTypeInfoBuilder<TCalc>("ICalc", kIID_ICalc).Method(1, "Add", &TCalc::Add).Method(2, "ADD", &TCalc::Add),
               std::logic_error);
}

// Converting a reference goes up only; down is a query.
static_assert(std::is_convertible_v<TComPtr<IDispatch>, TComPtr<IUnknown>>);
static_assert(!std::is_constructible_v<TComPtr<IDispatch>, TComPtr<IUnknown>>);
static_assert(!std::is_constructible_v<TComPtr<ITypeInfo>, TComPtr<IDispatch>>);

// A factory found stays alive while the reference is held: its removal waits for it.
TEST_F(DispatchTest, AFactoryFoundOutlivesItsRemovalUntilTheReferenceGoes) {
  struct TdmC : TComponent {};
  auto factory = std::make_unique<TComObjectFactory>(
      TFactoryInfo{TGUID::Parse("{00000004-0000-0000-0000-000000000000}"), "TdmC", "QarTeste.C", ""}, nullptr,
      nullptr, TComponentClass::Of<TdmC>("TdmC"));
  TFactoryRef found = ComClassManager().GetFactoryFromProgID("QarTeste.C");
  std::thread remover([&] { factory.reset(); });
  // Gone from the list first, so the destructor has begun; then it waits for `found`.
  for (int i = 0; i < 10000000 && ComClassManager().GetFactoryFromProgID("QarTeste.C"); ++i) std::this_thread::yield();
  EXPECT_EQ(ComClassManager().GetFactoryFromProgID("QarTeste.C"), nullptr);
  EXPECT_EQ(found->ComponentClass()->Name, "TdmC");
  found.reset();
  remover.join();
}

TEST(GuidTest, ParsesAndFormatsTheBracedForm) {
  constexpr TGUID kParsed = TGUID::Parse("{e07892a0-f52e-11cf-bd2f-0020af0e5b81}");
  EXPECT_EQ(kParsed.ToString(), "{E07892A0-F52E-11CF-BD2F-0020AF0E5B81}");
  EXPECT_EQ(kParsed.D1, 0xE07892A0u);
  EXPECT_EQ(TGUID::Parse(kParsed.ToString()), kParsed);
}

}  // namespace
}  // namespace qar::com
