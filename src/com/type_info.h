// Type information built in C++: a dispatch interface whose members are bound to
// member functions of a class.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "com/com_object.h"
#include "com/dispatch.h"

namespace qar::com {

// How a parameter or result type of a bound member travels in a variant.
template <class T>
struct TVarTraits;
template <>
struct TVarTraits<bool> {
  static constexpr std::uint16_t kVarType = kVarBoolean;
  static bool From(const Variant& value) { return value.AsBoolean(); }
};
template <>
struct TVarTraits<std::int32_t> {
  static constexpr std::uint16_t kVarType = kVarInteger;
  static std::int32_t From(const Variant& value) { return value.AsInteger(); }
};
template <>
struct TVarTraits<std::int64_t> {
  static constexpr std::uint16_t kVarType = kVarInt64;
  static std::int64_t From(const Variant& value) { return value.AsInt64(); }
};
template <>
struct TVarTraits<std::uint64_t> {
  static constexpr std::uint16_t kVarType = kVarUInt64;
  static std::uint64_t From(const Variant& value) { return value.AsUInt64(); }
};
template <>
struct TVarTraits<double> {
  static constexpr std::uint16_t kVarType = kVarDouble;
  static double From(const Variant& value) { return value.AsDouble(); }
};
template <>
struct TVarTraits<std::string> {
  static constexpr std::uint16_t kVarType = kVarOleStr;
  static std::string From(const Variant& value) { return value.AsString(); }
};
// A Variant parameter receives a copy of the argument's value: a caller's reference is
// followed and never kept, so the method may store what it receives.
template <>
struct TVarTraits<Variant> {
  static constexpr std::uint16_t kVarType = kVarVariant;
  static const Variant& From(Variant& value) { return value; }
};
// A Variant& parameter is an in-out argument: the method reads and may assign a copy
// that lives for the call; when the call succeeds, the copy is written back to a
// caller that passed a reference (a caller that passed a value keeps it).
struct TVarRefTraits {
  static constexpr std::uint16_t kVarType = kVarByRef | kVarVariant;
  static Variant& From(Variant& value) { return value; }
};

// The traits of parameter type P: Variant& is the only by-reference type.
template <class P>
using TParamTraits = std::conditional_t<std::is_same_v<P, Variant&>, TVarRefTraits, TVarTraits<std::decay_t<P>>>;
template <>
struct TVarTraits<void> {
  static constexpr std::uint16_t kVarType = kVarEmpty;
};

// The type information of one dispatch interface: its members with their
// identifiers, names and types, each bound to the function that performs it.
// Made by TTypeInfoBuilder; used through ITypeInfo.
class TDispatchTypeInfo : public TImplements<TComObject, ITypeInfo> {
 public:
  // Performs a member on `instance` with the converted arguments, in call order.
  using TThunk = std::function<Variant(void* instance, Variant* args)>;

  TDispatchTypeInfo(std::string name, const TGUID& iid, TTypeKind kind);
  // Throws std::logic_error when the identifier or the name (case ignored) is taken.
  void AddMember(TFuncDesc desc, TThunk thunk);

  HResult GetTypeAttr(const TTypeAttr** attr) override;
  void ReleaseTypeAttr(const TTypeAttr*) override {}
  HResult GetFuncDesc(std::uint32_t index, const TFuncDesc** desc) override;
  HResult GetIDsOfNames(const std::string* names, std::uint32_t count, DispId* ids) override;
  HResult GetDocumentation(DispId id, std::string* name, std::string* docString,
                           std::uint32_t* helpContext, std::string* helpFile) override;
  HResult Invoke(void* instance, DispId id, std::uint16_t flags, TDispParams& params,
                 Variant* result, TExcepInfo* excepInfo, std::uint32_t* argErr) override;

 private:
  const TFuncDesc* Find(DispId id, std::size_t& index) const;

  std::string name_;
  TTypeAttr attr_;
  std::vector<TFuncDesc> funcs_;
  std::vector<TThunk> thunks_;
};

// Declares the dispatch interface of class C once, binding identifiers and names to
// member functions; parameter and result types (bool, std::int32_t, std::int64_t,
// std::uint64_t, double, std::string, Variant, and void results; Variant& for an in-out parameter)
// come from the signatures. Each identifier and each name is bound once:
//
//   TComPtr<ITypeInfo> info = TTypeInfoBuilder<TdmVendas>("IdmVendas", kIID_IdmVendas)
//       .Method(1, "Total", &TdmVendas::Total)
//       .Method(2, "Cliente", &TdmVendas::Cliente)
//       .Build();
//
// DispInvoke then calls the members on an instance of C passed as void* (a C*).
template <class C>
class TTypeInfoBuilder {
 public:
  TTypeInfoBuilder(std::string name, const TGUID& iid, TTypeKind kind = TTypeKind::Dispatch)
      : info_(new TDispatchTypeInfo(std::move(name), iid, kind)) {}

  template <class R, class... P>
  TTypeInfoBuilder& Method(DispId id, std::string name, R (C::*method)(P...)) {
    return Bind<R, P...>(id, std::move(name), [method](void* self, Variant* args) {
      return Call<R, P...>(args, std::index_sequence_for<P...>{},
                           [&](auto&&... values) { return (static_cast<C*>(self)->*method)(values...); });
    });
  }
  template <class R, class... P>
  TTypeInfoBuilder& Method(DispId id, std::string name, R (C::*method)(P...) const) {
    return Bind<R, P...>(id, std::move(name), [method](void* self, Variant* args) {
      return Call<R, P...>(args, std::index_sequence_for<P...>{},
                           [&](auto&&... values) { return (static_cast<const C*>(self)->*method)(values...); });
    });
  }

  TComPtr<ITypeInfo> Build() const { return TComPtr<ITypeInfo>(info_); }

 private:
  template <class R, class... P>
  TTypeInfoBuilder& Bind(DispId id, std::string name, TDispatchTypeInfo::TThunk thunk) {
    TFuncDesc desc;
    desc.MemberId = id;
    desc.Name = std::move(name);
    static_assert(((!std::is_lvalue_reference_v<P> || std::is_const_v<std::remove_reference_t<P>> ||
                    std::is_same_v<P, Variant&>) && ...),
                  "Variant& is the only by-reference parameter type");
    desc.ParamTypes = {TParamTraits<P>::kVarType...};
    desc.ResultType = TVarTraits<std::decay_t<R>>::kVarType;
    info_->AddMember(std::move(desc), std::move(thunk));
    return *this;
  }

  template <class R, class... P, std::size_t... I, class F>
  static Variant Call(Variant* args, std::index_sequence<I...>, F&& call) {
    if constexpr (std::is_void_v<R>) {
      call(TParamTraits<P>::From(args[I])...);
      return Variant();
    } else {
      return Variant(call(TParamTraits<P>::From(args[I])...));
    }
  }

  TComPtr<TDispatchTypeInfo> info_;
};

}  // namespace qar::com
