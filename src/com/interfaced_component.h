// A component that implements interfaces itself and shares its automation object's
// reference count.
#pragma once

#include "com/result.h"
#include "framework/component.h"

namespace qar::com {

// A component is not reference-counted: its owner frees it. Its interfaces count
// references on the automation object that wraps it (the component's slot), and a
// query that the component cannot answer goes to that object, so both look like one
// object to a client. Without an automation object, counting does nothing.
//
//   class TdmVendas : public TInterfacedComponent<IAppServer> { ... };
template <class... Interfaces>
class TInterfacedComponent : public TComponent, public Interfaces... {
 public:
  HResult QueryInterface(const TGUID& iid, void** object) override {
    if (object == nullptr) return kE_POINTER;
    if (GetInterface(iid, object)) return kS_OK;
    if (VCLComObject() != nullptr) return VCLComObject()->QueryInterface(iid, object);
    return kE_NOINTERFACE;
  }
  std::uint32_t AddRef() override { return VCLComObject() != nullptr ? VCLComObject()->AddRef() : 1; }
  std::uint32_t Release() override { return VCLComObject() != nullptr ? VCLComObject()->Release() : 1; }

  bool GetInterface(const TGUID& iid, void** object) override {
    if (object == nullptr) return false;
    void* found = nullptr;
    ((found == nullptr && iid == Interfaces::kIID ? (found = static_cast<Interfaces*>(this)) : nullptr),
     ...);
    *object = found;
    if (found != nullptr) AddRef();
    return found != nullptr;
  }
};

}  // namespace qar::com
