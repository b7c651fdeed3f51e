#include "com/factory.h"

#include "com/class_manager.h"
#include "platform/module.h"

namespace qar::com {

TComObjectFactory::TComObjectFactory(TFactoryInfo info, TCreator creator, const void* moduleAnchor,
                                     std::optional<TComponentClass> componentClass)
    : TComObjectFactory(TRegisteredByDerived{}, std::move(info), std::move(creator), moduleAnchor,
                        std::move(componentClass)) {
  Register();
}

TComObjectFactory::TComObjectFactory(TRegisteredByDerived, TFactoryInfo info, TCreator creator,
                                     const void* moduleAnchor, std::optional<TComponentClass> componentClass)
    : info_(std::move(info)),
      creator_(std::move(creator)),
      moduleAnchor_(moduleAnchor),
      componentClass_(std::move(componentClass)) {}

// Already out when the most derived destructor did its part; kept for safety.
TComObjectFactory::~TComObjectFactory() { Unregister(); }

void TComObjectFactory::Register() { ComClassManager().AddObjectFactory(*this); }

void TComObjectFactory::Unregister() { ComClassManager().RemoveObjectFactory(*this); }

TComPtr<IUnknown> TComObjectFactory::CreateComObject() {
  TComPtr<IUnknown> object = creator_(*this);
  if (!object) throw EOleError(kE_FAIL, "The factory of " + info_.ClassName + " made no object");
  return object;
}

std::string TComObjectFactory::ModuleFileName() const {
  return platform::ModuleFileNameOf(moduleAnchor_);
}

TAutoObjectFactory::TAutoObjectFactory(TFactoryInfo info, TCreator creator, const void* moduleAnchor,
                                       TComPtr<ITypeInfo> typeInfo,
                                       std::optional<TComponentClass> componentClass,
                                       TDispatchTarget dispatchTarget)
    : TAutoObjectFactory(TRegisteredByDerived{}, std::move(info), std::move(creator), moduleAnchor,
                         std::move(typeInfo), std::move(componentClass), std::move(dispatchTarget)) {
  Register();
}

TAutoObjectFactory::TAutoObjectFactory(TRegisteredByDerived, TFactoryInfo info, TCreator creator,
                                       const void* moduleAnchor, TComPtr<ITypeInfo> typeInfo,
                                       std::optional<TComponentClass> componentClass,
                                       TDispatchTarget dispatchTarget)
    : TComObjectFactory(TRegisteredByDerived{}, std::move(info), std::move(creator), moduleAnchor,
                        std::move(componentClass)),
      typeInfo_(std::move(typeInfo)),
      dispatchTarget_(std::move(dispatchTarget)) {
  const TTypeAttr* attr = nullptr;
  if (typeInfo_ && Succeeded(typeInfo_->GetTypeAttr(&attr))) {
    dispIntfIID_ = attr->Guid;
    typeInfo_->ReleaseTypeAttr(attr);
  }
}

}  // namespace qar::com
