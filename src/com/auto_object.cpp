#include "com/auto_object.h"

namespace qar::com {

HResult TAutoObject::ObjQueryInterface(const TGUID& iid, void** object) {
  const TAutoObjectFactory* factory = AutoFactory();
  if (object != nullptr && factory != nullptr && factory->ClassTypeInfo() != nullptr &&
      iid == factory->DispIntfIID()) {
    return TImplements::ObjQueryInterface(IDispatch::kIID, object);
  }
  return TImplements::ObjQueryInterface(iid, object);
}

HResult TAutoObject::GetTypeInfoCount(std::uint32_t* count) {
  if (count == nullptr) return kE_POINTER;
  const TAutoObjectFactory* factory = AutoFactory();
  *count = factory != nullptr && factory->ClassTypeInfo() != nullptr ? 1 : 0;
  return kS_OK;
}

HResult TAutoObject::GetTypeInfo(std::uint32_t index, LocaleId, ITypeInfo** info) {
  if (info == nullptr) return kE_POINTER;
  *info = nullptr;
  const TAutoObjectFactory* factory = AutoFactory();
  if (index != 0 || factory == nullptr || factory->ClassTypeInfo() == nullptr)
    return kDISP_E_BADINDEX;
  *info = TComPtr<ITypeInfo>(factory->ClassTypeInfo()).Detach();
  return kS_OK;
}

HResult TAutoObject::GetIDsOfNames(const TGUID&, const std::string* names, std::uint32_t count,
                                   LocaleId, DispId* ids) {
  const TAutoObjectFactory* factory = AutoFactory();
  if (factory == nullptr || factory->ClassTypeInfo() == nullptr) return kE_NOTIMPL;
  return factory->ClassTypeInfo()->GetIDsOfNames(names, count, ids);
}

HResult TAutoObject::Invoke(DispId id, const TGUID&, LocaleId, std::uint16_t flags,
                            TDispParams& params, Variant* result, TExcepInfo* excepInfo,
                            std::uint32_t* argErr) {
  try {
    return InvokeMember(id, flags, params, result, excepInfo, argErr);
  } catch (...) {
    const TComObjectFactory* factory = Factory();
    return ReportException(std::current_exception(), factory != nullptr ? factory->ClassName() : std::string(),
                           excepInfo);
  }
}

HResult TAutoObject::InvokeMember(DispId id, std::uint16_t flags, TDispParams& params, Variant* result,
                                  TExcepInfo* excepInfo, std::uint32_t* argErr) {
  TAutoObjectFactory* factory = AutoFactory();
  void* target = factory != nullptr ? factory->DispatchTargetOf(*this) : nullptr;
  if (target == nullptr || factory->ClassTypeInfo() == nullptr) return kDISP_E_MEMBERNOTFOUND;
  return DispInvoke(target, factory->ClassTypeInfo(), id, flags, params,
                    result, excepInfo, argErr);
}

}  // namespace qar::com
