// Late-bound calls: dispatch identifiers, dispatch arguments, exception information,
// type information and the dispatch interface.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "com/result.h"
#include "framework/interface.h"
#include "framework/variant.h"

namespace qar::com {

using DispId = std::int32_t;
using LocaleId = std::uint32_t;

inline constexpr DispId kDispIdUnknown = -1;     // a name without an identifier
inline constexpr DispId kDispIdPropertyPut = -3;  // the named argument of a property put
inline constexpr DispId kMemberIdNil = -1;        // the type itself (GetDocumentation)

// Call flags.
inline constexpr std::uint16_t kDispatchMethod = 1;
inline constexpr std::uint16_t kDispatchPropertyGet = 2;
inline constexpr std::uint16_t kDispatchPropertyPut = 4;
inline constexpr std::uint16_t kDispatchPropertyPutRef = 8;

// The arguments of one call as the caller keeps them: Args holds ArgCount values,
// the LAST argument first, so the first argument is Args[ArgCount - 1]. NamedArgs
// holds the identifiers of the first NamedArgCount entries of Args. The caller owns
// both arrays; a callee may lower ArgCount to hide leading arguments from the method.
struct TDispParams {
  Variant* Args = nullptr;
  DispId* NamedArgs = nullptr;
  std::uint32_t ArgCount = 0;
  std::uint32_t NamedArgCount = 0;
};

// Dispatch arguments written in call order: TDispArgs args{"abc", 42} gives
// Params().Args = {42, "abc"}.
class TDispArgs {
 public:
  TDispArgs(std::initializer_list<Variant> inCallOrder) : TDispArgs(std::vector<Variant>(inCallOrder)) {}
  explicit TDispArgs(std::vector<Variant> inCallOrder);
  TDispArgs(const TDispArgs&) = delete;
  TDispArgs& operator=(const TDispArgs&) = delete;
  TDispParams& Params() { return params_; }
  // The argument at `index` in call order.
  Variant& operator[](std::size_t index) { return values_[values_.size() - 1 - index]; }

 private:
  std::vector<Variant> values_;  // last argument first
  TDispParams params_;
};

// What a failing method tells its caller (DISP_E_EXCEPTION): texts are ANSI.
struct TExcepInfo {
  std::uint16_t Code = 0;
  std::string Source;
  std::string Description;
  std::string HelpFile;
  std::uint32_t HelpContext = 0;
  HResult SCode = 0;
};

// A value a call threw, as its caller hears of it (DescribeFailure): `excepInfo` (when
// given) holds `source`, the description and the code, and the result is
// DISP_E_EXCEPTION. The model's two dispatch edges use it: a member's (DispInvoke) and
// an object's (TAutoObject::Invoke).
HResult ReportException(std::exception_ptr error, std::string source, TExcepInfo* excepInfo);

// Type kinds.
enum class TTypeKind : std::int32_t {
  Enum = 0, Record = 1, Module = 2, Interface = 3, Dispatch = 4, CoClass = 5, Alias = 6, Union = 7
};

// The attributes of a type description.
struct TTypeAttr {
  TGUID Guid;
  TTypeKind TypeKind = TTypeKind::Dispatch;
  std::uint16_t FuncCount = 0;
};

// One member: its identifier and name, the type codes of its parameters in call
// order, and the type code of its result (kVarEmpty for none).
struct TFuncDesc {
  DispId MemberId = 0;
  std::string Name;
  std::vector<std::uint16_t> ParamTypes;
  std::uint16_t ResultType = kVarEmpty;
};

// A type description: the members of a dispatch interface, their names, and the
// call of a member on an object of the described class.
class ITypeInfo : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{00020401-0000-0000-C000-000000000046}");
  // The attributes stay valid until ReleaseTypeAttr.
  virtual HResult GetTypeAttr(const TTypeAttr** attr) = 0;
  virtual void ReleaseTypeAttr(const TTypeAttr* attr) = 0;
  virtual HResult GetFuncDesc(std::uint32_t index, const TFuncDesc** desc) = 0;
  // names[0] is a member name, any further names its parameters' (case-insensitive).
  virtual HResult GetIDsOfNames(const std::string* names, std::uint32_t count, DispId* ids) = 0;
  // Any out pointer may be null. kMemberIdNil documents the type itself.
  virtual HResult GetDocumentation(DispId id, std::string* name, std::string* docString,
                                   std::uint32_t* helpContext, std::string* helpFile) = 0;
  // Calls member `id` on `instance`, an object of the described class (see DispInvoke).
  virtual HResult Invoke(void* instance, DispId id, std::uint16_t flags, TDispParams& params,
                         Variant* result, TExcepInfo* excepInfo, std::uint32_t* argErr) = 0;

 protected:
  ~ITypeInfo() = default;
};

// The late-bound interface of an automation object.
class IDispatch : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{00020400-0000-0000-C000-000000000046}");
  virtual HResult GetTypeInfoCount(std::uint32_t* count) = 0;
  virtual HResult GetTypeInfo(std::uint32_t index, LocaleId locale, ITypeInfo** info) = 0;
  virtual HResult GetIDsOfNames(const TGUID& iid, const std::string* names, std::uint32_t count,
                                LocaleId locale, DispId* ids) = 0;
  // result, excepInfo and argErr may be null. Returns kDISP_E_EXCEPTION with excepInfo
  // filled when the method failed, kDISP_E_TYPEMISMATCH / kDISP_E_PARAMNOTOPTIONAL with
  // *argErr = the failing argument's index in params.Args.
  virtual HResult Invoke(DispId id, const TGUID& iid, LocaleId locale, std::uint16_t flags,
                         TDispParams& params, Variant* result, TExcepInfo* excepInfo,
                         std::uint32_t* argErr) = 0;

 protected:
  ~IDispatch() = default;
};

// Calls member `id` of `instance` as `typeInfo` describes it, with the system's
// conventions: each argument converted to its parameter's type (ChangeType), a wrong
// count giving kDISP_E_BADPARAMCOUNT, an argument that cannot be converted giving
// kDISP_E_TYPEMISMATCH (or kDISP_E_OVERFLOW) and its index in *argErr, an omitted
// argument for a typed parameter kDISP_E_PARAMNOTOPTIONAL, named arguments other than
// a property put's kDISP_E_NONAMEDARGS, an unknown identifier kDISP_E_MEMBERNOTFOUND,
// and an exception from the method kDISP_E_EXCEPTION with its message as description.
// This is the member's edge, its one catch: nothing the member throws passes it.
HResult DispInvoke(void* instance, ITypeInfo* typeInfo, DispId id, std::uint16_t flags,
                   TDispParams& params, Variant* result, TExcepInfo* excepInfo,
                   std::uint32_t* argErr);

// `value` converted to type code `varType` (kVarVariant: a copy with every reference
// followed, Variant::Detached), by the automation conversion rules: Null converts to
// nothing but a variant, Empty to zero or empty text, texts to numbers when they hold
// one. Integers convert exactly and fractions round half to even; a number out of the
// target's range and a date that is no date (anywhere in the value) are
// kDISP_E_OVERFLOW. Returns kS_OK, kDISP_E_TYPEMISMATCH or kDISP_E_OVERFLOW.
HResult ChangeType(const Variant& value, std::uint16_t varType, Variant& converted);

}  // namespace qar::com
