#include "automation/VCLCom.h"

#include <chrono>
#include <memory>
#include <mutex>

#include "com/class_manager.h"
#include "diagnostics/bug_report.h"
#include "diagnostics/log_file_name.h"
#include "platform/datetime.h"

namespace qar::automation {

namespace {

constexpr int kCreationAttempts = 5;
constexpr std::chrono::milliseconds kRetryWait{1000};

std::mutex gUnitMutex;
int gUnitInitializations = 0;

}  // namespace

TCreationEnvironment DefaultCreationEnvironment() {
  return {&platform::SystemClock(),
          [](std::string_view failureClassName, std::string_view message,
             std::string_view componentModuleFileName, std::string_view registeredClassName) {
            diagnostics::WriteBugReport(failureClassName, message, componentModuleFileName,
                                        registeredClassName, *CreationEnvironment().clock);
          }};
}

TCreationEnvironment& CreationEnvironment() {
  static TCreationEnvironment environment = DefaultCreationEnvironment();
  return environment;
}

TVCLAutoObject::TVCLAutoObject(com::TComObjectFactory& factory, TComponent* component)
    : TImplements(factory), component_(component) {}

TVCLAutoObject::~TVCLAutoObject() {
  if (component_ == nullptr) return;
  // The slot first, so the component never refers to a dead object.
  component_->SetVCLComObject(nullptr);
  if (!ownsComponent_) return;
  std::unique_ptr<TComponent> owned;
  if (TComponent* owner = component_->Owner())
    owned = owner->RemoveComponent(*component_);
  else
    owned.reset(component_);
}

void TVCLAutoObject::Initialize() {
  TAutoObject::Initialize();
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  if (component_ == nullptr) {
    const com::TComponentClass* componentClass = Factory()->ComponentClass();
    if (componentClass == nullptr)
      throw com::EOleError(com::kE_UNEXPECTED, "The class " + Factory()->ClassName() + " has no component class");
    CreateComponent(*componentClass);
  }
  component_->SetVCLComObject(static_cast<IVCLComObject*>(this));
}

void TVCLAutoObject::CreateComponent(const com::TComponentClass& componentClass) {
  TCreationEnvironment& environment = CreationEnvironment();
  for (int failures = 0;;) {
    try {
      component_ = componentClass.Create().release();
      ownsComponent_ = true;
      return;
    } catch (const std::exception& error) {
      ++failures;
      if (failures == kCreationAttempts) throw;
      if (failures == 1) {
        environment.writeBugReport(com::ExceptionClassName(error), error.what(),
                                   Factory()->ModuleFileName(), Factory()->ClassName());
      } else {
        environment.clock->Sleep(kRetryWait);
      }
    }
  }
}

HResult TVCLAutoObject::ObjQueryInterface(const TGUID& iid, void** object) {
  const HResult inherited = TImplements::ObjQueryInterface(iid, object);
  if (inherited == com::kS_OK || component_ == nullptr) return inherited;
  return component_->GetInterface(iid, object) ? com::kS_OK : inherited;
}

HResult TVCLAutoObject::GetTypeInfoCount(std::uint32_t* count) {
  return TAutoObject::GetTypeInfoCount(count);
}

HResult TVCLAutoObject::GetTypeInfo(std::uint32_t index, com::LocaleId locale, com::ITypeInfo** info) {
  return TAutoObject::GetTypeInfo(index, locale, info);
}

HResult TVCLAutoObject::GetIDsOfNames(const TGUID& iid, const std::string* names,
                                      std::uint32_t count, com::LocaleId locale, com::DispId* ids) {
  return TAutoObject::GetIDsOfNames(iid, names, count, locale, ids);
}

HResult TVCLAutoObject::Invoke(com::DispId id, const TGUID&, com::LocaleId, std::uint16_t flags,
                               com::TDispParams& params, Variant* result,
                               com::TExcepInfo* excepInfo, std::uint32_t* argErr) {
  const com::TAutoObjectFactory* factory = AutoFactory();
  const com::TComponentClass* componentClass = factory != nullptr ? factory->ComponentClass() : nullptr;
  void* target = componentClass != nullptr && component_ != nullptr
                     ? componentClass->DispatchTarget(*component_)
                     : nullptr;
  if (target == nullptr) return com::kDISP_E_MEMBERNOTFOUND;
  return com::DispInvoke(target, factory->ClassTypeInfo(), id, flags, params, result, excepInfo,
                         argErr);
}

HResult TVCLAutoObject::SafeCallException(std::exception_ptr error) {
  return com::DescribeFailure(std::move(error)).code;
}

TComPtr<IUnknown> CreateAutoObjectForComponent(TComponent& component) {
  com::TComObjectFactory& factory = com::ComClassManager().GetFactoryFromClass(component);
  TComPtr<TVCLAutoObject> object = com::NewComObject<TVCLAutoObject>(factory, &component);
  return TComPtr<IUnknown>(static_cast<com::TComObject*>(object.Get()));
}

TComPtr<IUnknown> CreateVCLAutoObject(com::TComObjectFactory& factory) {
  TComPtr<TVCLAutoObject> object = com::NewComObject<TVCLAutoObject>(factory, nullptr);
  return TComPtr<IUnknown>(static_cast<com::TComObject*>(object.Get()));
}

void InitializeVCLCom() {
  std::lock_guard lock(gUnitMutex);
  if (gUnitInitializations++ > 0) return;
  diagnostics::ModuleShortName();
  CreateVCLComObjectProc = &CreateAutoObjectForComponent;
}

void FinalizeVCLCom() {
  std::lock_guard lock(gUnitMutex);
  if (gUnitInitializations == 0 || --gUnitInitializations > 0) return;
  CreateVCLComObjectProc = nullptr;
}

}  // namespace qar::automation
