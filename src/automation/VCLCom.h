// VCLCom: the automation object that wraps a component for remote clients, and the
// unit's start-up work (module short name, the automation-object hook).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string_view>

#include "com/auto_object.h"
#include "com/factory.h"
#include "framework/component.h"
#include "platform/clock.h"

namespace qar::automation {

// The interface an automation object hands the component it wraps (stored in the
// component's slot): the object's own dispatch operations, its translation of an
// exception into a result code, and FreeOnRelease, which makes the object own (and
// free) the component.
class IVCLComObject : public com::IDispatch {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{E07892A0-F52E-11CF-BD2F-0020AF0E5B81}");
  virtual HResult SafeCallException(std::exception_ptr error) = 0;
  virtual void FreeOnRelease() = 0;

 protected:
  ~IVCLComObject() = default;
};

// What creating a wrapped component needs from outside: the clock of the waits
// between attempts, and the writer of the bug report after the first failure.
// Process-wide; tests put a simulated clock and a recording writer here.
struct TCreationEnvironment {
  using TBugReportWriter =
      std::function<void(std::string_view failureClassName, std::string_view message,
                         std::string_view componentModuleFileName,
                         std::string_view registeredClassName)>;
  platform::Clock* clock;
  TBugReportWriter writeBugReport;
};
TCreationEnvironment& CreationEnvironment();
// The production environment: the system clock and bugreport.txt beside the module.
TCreationEnvironment DefaultCreationEnvironment();

// The automation object of a component. Made by its factory when a client creates
// the class (it then creates the factory's component class itself and owns it), or
// by CreateAutoObjectForComponent for an existing component (which it does not own).
// Calls are forwarded to the component through DispInvoke. Queries the object cannot
// answer go to the component, so interfaces the component implements reach clients.
class TVCLAutoObject : public com::TImplements<com::TAutoObject, IVCLComObject> {
 public:
  TVCLAutoObject(com::TComObjectFactory& factory, TComponent* component);
  ~TVCLAutoObject() override;

  // Sets the process's date settings, creates the component when none was given (up
  // to five attempts: a bug report after the first failure, 1000 ms before the third,
  // fourth and fifth, the fifth failure thrown; what is not a std::exception is
  // thrown at once), then stores itself in the component's slot.
  void Initialize() override;
  HResult ObjQueryInterface(const TGUID& iid, void** object) override;

  HResult GetTypeInfoCount(std::uint32_t* count) override;
  HResult GetTypeInfo(std::uint32_t index, com::LocaleId locale, com::ITypeInfo** info) override;
  HResult GetIDsOfNames(const TGUID& iid, const std::string* names, std::uint32_t count,
                        com::LocaleId locale, com::DispId* ids) override;
  HResult Invoke(com::DispId id, const TGUID& iid, com::LocaleId locale, std::uint16_t flags,
                 com::TDispParams& params, Variant* result, com::TExcepInfo* excepInfo,
                 std::uint32_t* argErr) override;

  HResult SafeCallException(std::exception_ptr error) override;
  void FreeOnRelease() override { ownsComponent_ = true; }

  TComponent* Component() const { return component_; }
  bool OwnsComponent() const { return ownsComponent_; }

 private:
  void CreateComponent(const com::TComponentClass& componentClass);

  TComponent* component_;
  bool ownsComponent_ = false;
};

// The hook behind TComponent::ComObject: an automation object for `component` from
// the factory registered for its class. Throws the class manager's EOleError when
// no factory is registered.
TComPtr<IUnknown> CreateAutoObjectForComponent(TComponent& component);

// A new TVCLAutoObject of `factory` that creates its own component.
TComPtr<IUnknown> CreateVCLAutoObject(com::TComObjectFactory& factory);

// The factory of a class whose objects wrap a TModule (a component class with a
// default constructor); `typeInfo` binds the members of TModule.
template <class TModule>
com::TAutoObjectFactory VCLAutoObjectFactoryOf(com::TFactoryInfo info,
                                               TComPtr<com::ITypeInfo> typeInfo) {
  com::TComponentClass componentClass = com::TComponentClass::Of<TModule>(info.ClassName);
  return com::TAutoObjectFactory(std::move(info), &CreateVCLAutoObject,
                                 &com::kModuleAnchorOf<TModule>, std::move(typeInfo),
                                 std::move(componentClass));
}

// The unit's start-up and end, counted: the first initialisation computes the module
// short name and installs CreateAutoObjectForComponent as CreateVCLComObjectProc; the
// last finalisation removes it.
void InitializeVCLCom();
void FinalizeVCLCom();

}  // namespace qar::automation
