// DispInvoke's conventions and the type information of a class declared in C++.
#include <gtest/gtest.h>

#include <stdexcept>

#include "com/dispatch.h"
#include "com/type_info.h"

namespace qar::com {
namespace {

constexpr TGUID kIID_ITeste = TGUID::Parse("{6B1D3C2E-4F5A-4B6C-9D7E-8F9012345678}");

class TTeste {
 public:
  std::string Concat(const std::string& a, const std::string& b) { return a + b; }
  std::int32_t Add(std::int32_t a, std::int32_t b) const { return a + b; }
  bool IsNull(Variant value) { return value.IsNull(); }
  // Assigns through a by-reference argument, as a script variable allows.
  void Increment(Variant value) {
    if (Variant* target = value.Target()) *target = target->AsInteger() + 1;
  }
  void Fail(const std::string& message) { throw std::runtime_error(message); }
  void FailWithCode() { throw EOleError(kE_INVALIDARG, "bad value"); }
};

TComPtr<ITypeInfo> TesteTypeInfo() {
  return TTypeInfoBuilder<TTeste>("ITeste", kIID_ITeste)
      .Method(1, "Concat", &TTeste::Concat)
      .Method(2, "Add", &TTeste::Add)
      .Method(3, "IsNull", &TTeste::IsNull)
      .Method(4, "Increment", &TTeste::Increment)
      .Method(5, "Fail", &TTeste::Fail)
      .Method(6, "FailWithCode", &TTeste::FailWithCode)
      .Build();
}

struct InvokeCase {
  const char* label;
  DispId id;
  std::vector<Variant> args;  // call order
  HResult expected;
  Variant result;
  std::uint32_t argErr = 99;
};

TEST(DispInvokeTest, ConvertsArgumentsAndReportsTheFailingIndexTheWayCallersExpect) {
  const TComPtr<ITypeInfo> info = TesteTypeInfo();
  const InvokeCase cases[] = {
      {"first argument first", 1, {"ab", "cd"}, kS_OK, "abcd"},
      {"text converted to the parameter type", 2, {2, "40"}, kS_OK, 42},
      {"fraction rounds half to even", 2, {2.5, 0}, kS_OK, 2},
      {"too few", 2, {1}, kDISP_E_BADPARAMCOUNT, {}},
      {"too many", 2, {1, 2, 3}, kDISP_E_BADPARAMCOUNT, {}},
      {"bad second argument is index 0", 2, {1, "x"}, kDISP_E_TYPEMISMATCH, {}, 0},
      {"bad first argument is index 1", 2, {"x", 1}, kDISP_E_TYPEMISMATCH, {}, 1},
      {"null to an integer", 2, {Variant::Null(), 1}, kDISP_E_TYPEMISMATCH, {}, 1},
      {"out of the 32-bit range", 2, {1, 3e10}, kDISP_E_OVERFLOW, {}, 0},
      {"omitted typed argument", 2, {Variant::Error(kDISP_E_PARAMNOTFOUND), 1},
       kDISP_E_PARAMNOTOPTIONAL, {}, 1},
      {"null reaches a variant parameter", 3, {Variant::Null()}, kS_OK, true},
      {"unknown identifier", 99, {}, kDISP_E_MEMBERNOTFOUND, {}},
  };
  TTeste teste;
  for (const InvokeCase& c : cases) {
    TDispArgs args(c.args);
    Variant result = "untouched";
    std::uint32_t argErr = 99;
    EXPECT_EQ(DispInvoke(&teste, info.Get(), c.id, kDispatchMethod, args.Params(), &result, nullptr,
                         &argErr),
              c.expected)
        << c.label;
    EXPECT_EQ(argErr, c.argErr) << c.label;
    if (c.expected == kS_OK) {
      EXPECT_EQ(result, c.result) << c.label;
    } else {
      EXPECT_EQ(result, Variant("untouched")) << c.label;
    }
  }
}

TEST(DispInvokeTest, ResultsCarryTheDeclaredTypeCode) {
  const TComPtr<ITypeInfo> info = TesteTypeInfo();
  TTeste teste;
  TDispArgs args{1, 2};
  Variant result;
  ASSERT_EQ(DispInvoke(&teste, info.Get(), 2, kDispatchPropertyGet | kDispatchMethod, args.Params(),
                       &result, nullptr, nullptr),
            kS_OK);
  EXPECT_EQ(result.VarType(), kVarInteger);
  TDispArgs put{1, 2};
  EXPECT_EQ(DispInvoke(&teste, info.Get(), 2, kDispatchPropertyPut, put.Params(), &result, nullptr,
                       nullptr),
            kDISP_E_MEMBERNOTFOUND);
  DispId named = 0;
  put.Params().NamedArgs = &named;
  put.Params().NamedArgCount = 1;
  EXPECT_EQ(DispInvoke(&teste, info.Get(), 2, kDispatchMethod, put.Params(), &result, nullptr, nullptr),
            kDISP_E_NONAMEDARGS);
}

TEST(DispInvokeTest, AByReferenceArgumentIsReadAndWrittenThroughItsTarget) {
  const TComPtr<ITypeInfo> info = TesteTypeInfo();
  TTeste teste;
  Variant variable = 5;
  TDispArgs args{Variant::ByRef(variable)};
  EXPECT_EQ(args.Params().Args[0].VarType(), kVarByRef | kVarVariant);
  ASSERT_EQ(DispInvoke(&teste, info.Get(), 4, kDispatchMethod, args.Params(), nullptr, nullptr, nullptr),
            kS_OK);
  EXPECT_EQ(variable, Variant(6));
  TDispArgs typed{Variant::ByRef(variable), 1};
  Variant result;
  ASSERT_EQ(DispInvoke(&teste, info.Get(), 2, kDispatchMethod, typed.Params(), &result, nullptr, nullptr),
            kS_OK);
  EXPECT_EQ(result, Variant(7));
}

TEST(DispInvokeTest, AnExceptionBecomesExceptionInformationWithItsDescription) {
  const TComPtr<ITypeInfo> info = TesteTypeInfo();
  TTeste teste;
  struct {
    DispId id;
    std::vector<Variant> args;
    std::string description;
    HResult scode;
  } const cases[] = {{5, {"N\xE3o h\xE1 estoque"}, "N\xE3o h\xE1 estoque", kE_FAIL},
                     {6, {}, "bad value", kE_INVALIDARG}};
  for (const auto& c : cases) {
    TDispArgs args(c.args);
    TExcepInfo excepInfo;
    EXPECT_EQ(DispInvoke(&teste, info.Get(), c.id, kDispatchMethod, args.Params(), nullptr, &excepInfo,
                         nullptr),
              kDISP_E_EXCEPTION);
    EXPECT_EQ(excepInfo.Description, c.description);
    EXPECT_EQ(excepInfo.SCode, c.scode);
    EXPECT_EQ(excepInfo.Source, "ITeste");
  }
}

TEST(TypeInfoTest, NamesIdentifiersDocumentationAndMemberTypes) {
  const TComPtr<ITypeInfo> info = TesteTypeInfo();
  const std::string names[] = {"cONCAT", "Add", "Nada"};
  DispId ids[3] = {};
  EXPECT_EQ(info->GetIDsOfNames(&names[0], 1, ids), kS_OK);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(info->GetIDsOfNames(&names[2], 1, ids), kDISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], kDispIdUnknown);
  EXPECT_EQ(info->GetIDsOfNames(&names[1], 2, ids), kDISP_E_UNKNOWNNAME);  // no parameter names
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], kDispIdUnknown);

  std::string name;
  EXPECT_EQ(info->GetDocumentation(5, &name, nullptr, nullptr, nullptr), kS_OK);
  EXPECT_EQ(name, "Fail");
  EXPECT_EQ(info->GetDocumentation(kMemberIdNil, &name, nullptr, nullptr, nullptr), kS_OK);
  EXPECT_EQ(name, "ITeste");
  EXPECT_EQ(info->GetDocumentation(42, &name, nullptr, nullptr, nullptr), kTYPE_E_ELEMENTNOTFOUND);

  const TTypeAttr* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), kS_OK);
  EXPECT_EQ(attr->TypeKind, TTypeKind::Dispatch);
  EXPECT_EQ(static_cast<int>(attr->TypeKind), 4);
  EXPECT_EQ(attr->Guid, kIID_ITeste);
  EXPECT_EQ(attr->FuncCount, 6);
  info->ReleaseTypeAttr(attr);
  const TFuncDesc* desc = nullptr;
  ASSERT_EQ(info->GetFuncDesc(0, &desc), kS_OK);
  EXPECT_EQ(desc->ParamTypes, (std::vector<std::uint16_t>{kVarOleStr, kVarOleStr}));
  EXPECT_EQ(desc->ResultType, kVarOleStr);
  ASSERT_EQ(info->GetFuncDesc(3, &desc), kS_OK);
  EXPECT_EQ(desc->ParamTypes, std::vector<std::uint16_t>{kVarVariant});
  EXPECT_EQ(desc->ResultType, kVarEmpty);
}

TEST(GuidTest, ParsesAndFormatsTheBracedForm) {
  constexpr TGUID kParsed = TGUID::Parse("{e07892a0-f52e-11cf-bd2f-0020af0e5b81}");
  EXPECT_EQ(kParsed.ToString(), "{E07892A0-F52E-11CF-BD2F-0020AF0E5B81}");
  EXPECT_EQ(kParsed.D1, 0xE07892A0u);
  EXPECT_EQ(kParsed.D4[7], 0x81);
  EXPECT_EQ(TGUID::Parse(kParsed.ToString()), kParsed);
  for (const char* bad : {"", "E07892A0-F52E-11CF-BD2F-0020AF0E5B81",
                          "{E07892A0-F52E-11CF-BD2F-0020AF0E5B8G}", "{E07892A0F52E-11CF-BD2F-0020AF0E5B81-}"})
    EXPECT_THROW(TGUID::Parse(bad), std::invalid_argument) << bad;
}

}  // namespace
}  // namespace qar::com
