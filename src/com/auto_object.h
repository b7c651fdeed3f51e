// TAutoObject: an automation object whose dispatch interface its factory's type
// information describes.
#pragma once

#include <utility>

#include "com/com_object.h"
#include "com/dispatch.h"
#include "com/factory.h"

namespace qar::com {

// Answers IUnknown, IDispatch and its dispatch interface's identifier; names,
// type information and calls go through the factory's type information, calls
// through DispInvoke. A class of its own binds its members and gets a factory:
//
//   class TCalc : public TAutoObject {
//    public:
//     using TAutoObject::TAutoObject;
//     std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b; }
//   };
//   static TAutoObjectFactory factory = AutoObjectFactoryOf<TCalc>(
//       {kCLSID_Calc, "Calc", "Servidor.Calc"},
//       TTypeInfoBuilder<TCalc>("ICalc", kIID_ICalc).Method(1, "Add", &TCalc::Add).Build());
class TAutoObject : public TImplements<TComObject, IDispatch> {
 public:
  explicit TAutoObject(TComObjectFactory& factory)
      : TImplements(&factory), autoFactory_(dynamic_cast<TAutoObjectFactory*>(&factory)) {}

  HResult ObjQueryInterface(const TGUID& iid, void** object) override;

  HResult GetTypeInfoCount(std::uint32_t* count) override;
  HResult GetTypeInfo(std::uint32_t index, LocaleId locale, ITypeInfo** info) override;
  HResult GetIDsOfNames(const TGUID& iid, const std::string* names, std::uint32_t count,
                        LocaleId locale, DispId* ids) override;
  // The object's edge: what InvokeMember throws becomes kDISP_E_EXCEPTION with its
  // description in `excepInfo` (ReportException), the one catch of the object's call. A
  // member's own failure does not get here: the member's edge (DispInvoke) already
  // made it the member's result, as the system's members return one, so the work an
  // override does around its members goes on after a failed member.
  HResult Invoke(DispId id, const TGUID& iid, LocaleId locale, std::uint16_t flags,
                 TDispParams& params, Variant* result, TExcepInfo* excepInfo,
                 std::uint32_t* argErr) final;

 protected:
  // The call itself, which may throw: the member through DispInvoke on the factory's
  // dispatch target. A class that does more around its members overrides it.
  virtual HResult InvokeMember(DispId id, std::uint16_t flags, TDispParams& params, Variant* result,
                               TExcepInfo* excepInfo, std::uint32_t* argErr);
  // The factory as an automation-object factory; null for any other factory.
  TAutoObjectFactory* AutoFactory() const { return autoFactory_; }

 private:
  TAutoObjectFactory* const autoFactory_;  // cast once: every call asks for it
};

// The factory of automation objects of class T (derived from TAutoObject) whose own
// members `typeInfo` binds.
template <class T>
TAutoObjectFactory AutoObjectFactoryOf(TFactoryInfo info, TComPtr<ITypeInfo> typeInfo) {
  return TAutoObjectFactory(
      std::move(info),
      [](TComObjectFactory& factory) {
        return TComPtr<IUnknown>(static_cast<TComObject*>(NewComObject<T>(factory).Get()));
      },
      &kModuleAnchorOf<T>, std::move(typeInfo), std::nullopt,
      [](TAutoObject& object) -> void* { return &static_cast<T&>(object); });
}

}  // namespace qar::com
