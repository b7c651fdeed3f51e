#include "automation/VCLCom.h"

#include <cassert>
#include <chrono>
#include <memory>
#include <mutex>

#include "automation/call_monitor.h"
#include "automation/caller_identity.h"
#include "automation/database_key.h"
#include "automation/MtsRdm.h"
#include "automation/session_registration.h"
#include "automation/transaction_report.h"
#include "com/class_manager.h"
#include "data/custom_ado_data_set.h"
#include "diagnostics/bug_report.h"
#include "diagnostics/connection_log.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/monitor_settings.h"
#include "platform/datetime.h"

namespace qar::automation {

namespace {

constexpr int kCreationAttempts = 5;
constexpr std::chrono::milliseconds kRetryWait{1000};

std::mutex gUnitMutex;
int gUnitInitializations = 0;

// A data module's activation events: what they raise stays with them.
void FireSwallowing(const TNotifyEvent& event, TMtsDataModule& module) noexcept {
  if (!event) return;
  try {
    event(module);
  } catch (...) {
    // The module's own affair; the call goes on.
  }
}

// However the call ends once the identity is taken: the connection's own object back, the
// monitor gone (the connection's handlers with it), the thread's key emptied; the
// references of the call released.
class TOuterCleanup {
 public:
  explicit TOuterCleanup(CallContext& call) : call_(call) {}
  ~TOuterCleanup() {
    if (call_.SavedConnectionObject && call_.Connection != nullptr)
      call_.Connection->SetConnectionObject(std::move(call_.SavedConnectionObject));
    call_.Monitor.reset();
    SetCurrentDatabaseKey({});
    call_.ClientConnection.reset();
    call_.SavedConnectionObject.reset();
  }
  TOuterCleanup(const TOuterCleanup&) = delete;
  TOuterCleanup& operator=(const TOuterCleanup&) = delete;

 private:
  CallContext& call_;
};

// After the method: report and roll back a transaction it left open, then remove the
// session row; all of it even when the report fails, whose error is raised afterwards.
void FinishInnerStage(CallContext& call, const TCallEnvironment& environment) {
  std::exception_ptr failure;
  if (call.Connection != nullptr && call.Connection->InTransaction()) {
    try {
      environment.writeTransactionReport(call);
    } catch (...) {
      failure = std::current_exception();
    }
    try {
      call.Connection->RollbackTrans();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (call.Registered) UnregisterSession(call.Connection, call.IdentityKind);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace

TAutomationEnvironment DefaultAutomationEnvironment(platform::Clock& clock) {
  TAutomationEnvironment environment;
  environment.creation = {&clock, [&clock](std::string_view failureClassName, std::string_view message,
                                           std::string_view componentModuleFileName,
                                           std::string_view registeredClassName) {
                            diagnostics::WriteBugReport(failureClassName, message, componentModuleFileName,
                                                        registeredClassName, clock);
                          }};
  environment.call = {
      &clock,
      [&clock](const CallContext& call, bool designTimeConnected, bool viaSocketServer) {
        diagnostics::WriteConnectionLogEntry(*call.Connection, designTimeConnected, viaSocketServer, call.Operator,
                                             call.Application, call.Host, nullptr, esOK, clock);
      },
      [&clock](const CallContext& call) { WriteTransactionReport(call, clock); },
      [&clock](const CallContext& call, std::string_view failure) {
        const com::TComObjectFactory* factory = call.AutoObject != nullptr ? call.AutoObject->Factory() : nullptr;
        try {
          diagnostics::WriteBugReport("ESessionRegistration", failure,
                                      factory != nullptr ? factory->ModuleFileName() : std::string(),
                                      factory != nullptr ? factory->ClassName() : std::string(), clock);
        } catch (...) {
          // Nowhere left to tell; the call goes on without its session row.
        }
      }};
  environment.objectContext = &com::GetObjectContext;
  return environment;
}

TVCLAutoObject::TVCLAutoObject(com::TComObjectFactory& factory, TComponent* component)
    : TImplements(factory), component_(component), vclFactory_(dynamic_cast<TVCLAutoObjectFactory*>(&factory)) {}

TVCLAutoObject::~TVCLAutoObject() {
  TComponent* component = component_.load();
  if (component == nullptr) return;
  // The slot first, so the component never refers to a dead object; only when it is
  // this object's (a failed Initialize found another object there).
  if (component->VCLComObject() == static_cast<IUnknown*>(static_cast<IVCLComObject*>(this)))
    component->SetVCLComObject(nullptr);
  if (!ownsComponent_) return;
  std::unique_ptr<TComponent> owned;
  if (TComponent* owner = component->Owner())
    owned = owner->RemoveComponent(*component);
  else
    owned.reset(component);
}

const TAutomationEnvironment& TVCLAutoObject::Environment() const {
  if (vclFactory_ != nullptr) return vclFactory_->Environment();
  static const TAutomationEnvironment kDefault = DefaultAutomationEnvironment();
  return kDefault;
}

TComPtr<com::IObjectContext> ObjectContextOf(const TComponent& component) {
  // The slot holds the wrapping object while it lives, so its environment does too.
  const auto* object = dynamic_cast<const TVCLAutoObject*>(component.VCLComObject());
  const auto* provider = object != nullptr ? &object->Environment().objectContext : nullptr;
  return provider != nullptr && *provider ? (*provider)() : com::GetObjectContext();
}

void TVCLAutoObject::ComponentDestroyed() noexcept {
  component_ = nullptr;
  ownsComponent_ = false;
}

void TVCLAutoObject::Initialize() {
  TAutoObject::Initialize();
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  if (component_.load() == nullptr) {
    const com::TComponentClass* componentClass = Factory()->ComponentClass();
    if (componentClass == nullptr)
      throw com::EOleError(com::kE_UNEXPECTED, "The class " + Factory()->ClassName() + " has no component class");
    CreateComponent(*componentClass);
  }
  TComponent* component = component_.load();
  component->SetVCLComObject(static_cast<IVCLComObject*>(this), this);
}

void TVCLAutoObject::CreateComponent(const com::TComponentClass& componentClass) {
  const TCreationEnvironment& environment = Environment().creation;
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
  TComponent* component = component_.load();
  if (inherited == com::kS_OK || component == nullptr) return inherited;
  return component->GetInterface(iid, object) ? com::kS_OK : inherited;
}

HResult TVCLAutoObject::InvokeMember(com::DispId id, std::uint16_t flags, com::TDispParams& params,
                                     Variant* result, com::TExcepInfo* excepInfo, std::uint32_t* argErr) {
  std::lock_guard lock(callMutex_);
  TComponent* const component = component_.load();
  if (component == nullptr)
    throw com::EOleError(com::kE_UNEXPECTED, "The component of this " +
                                                 (Factory() != nullptr ? Factory()->ClassName() : std::string("object")) +
                                                 " object was destroyed; the object cannot be called");
  struct TDepth {
    int& depth;
    explicit TDepth(int& d) : depth(d) { ++depth; }
    ~TDepth() {
      assert(depth > 0 && "a call ended that never began");
      --depth;
    }
  } depth(callDepth_);
  // A nested call runs inside the outer one's sequence, on its connection and key.
  if (callDepth_ > 1) return TAutoObject::InvokeMember(id, flags, params, result, excepInfo, argErr);

  const TCallEnvironment& environment = Environment().call;
  CallContext call;
  call.AutoObject = this;
  call.DispatchId = id;
  TOuterCleanup outerCleanup(call);

  ExtractCallerIdentity(call, params);
  if (call.IdentityKind == kIdentityDatabaseKey) {
    call.DatabaseKey = IdentityField(call.IdentityText, kDatabaseKeyField);
    SelectCallDatabase(*component, call.DatabaseKey);
  }
  component->SetTag(id);
  call.Connection = AttachCallMonitor(*component, call, *environment.clock);
  TADOConnection* connection = call.Connection;
  if (connection != nullptr && connection->Connected()) {
    call.WasConnected = true;
    connection->Close();
  }

  if (call.ClientConnection && !call.IdentityText.empty() && connection != nullptr) {
    connection->Close();
    call.SavedConnectionObject = connection->ConnectionObject();
    connection->SetConnectionObject(call.ClientConnection);
    environment.writeConnectionLogEntry(call, call.WasConnected, true);
  }
  if (connection != nullptr && !call.ClientConnection && call.WasConnected)
    environment.writeConnectionLogEntry(call, true, false);
  KnowComponent(*component);
  TMtsDataModule* const module = module_;
  call.Activated = (connection != nullptr && !connection->Connected()) || call.ClientConnection != nullptr;
  if (call.Activated && module != nullptr) FireSwallowing(module->OnActivate, *module);
  if (diagnostics::IsTunningOn() && !call.IdentityText.empty()) {
    std::string failure;
    call.Registered = RegisterSession(connection, call.IdentityText, call.IdentityKind, id, call, failure);
    if (!call.Registered && !failure.empty() && !registrationFailureLogged_) {
      registrationFailureLogged_ = true;  // once per object: every call of it would fail alike
      environment.writeRegistrationFailure(call, failure);
    }
  }

  try {
    // A failed vote skips the method; the clean-ups below still run.
    if (module != nullptr) module->SetComplete();
    call.Result = InvokeMethod(*component, id, flags, params, result, excepInfo, argErr);
  } catch (...) {
    try {
      FinishInnerStage(call, environment);
    } catch (...) {
      // The call's own failure is the one the caller hears of.
    }
    throw;
  }
  FinishInnerStage(call, environment);

  if (call.Activated && module != nullptr) FireSwallowing(module->OnDeactivate, *module);
  if (connection != nullptr) {
    for (int i = 0; i < connection->DataSetCount(); ++i) {
      TCustomADODataSet& dataSet = connection->GetADODataSet(i);
      if (dataSet.Active()) dataSet.Close();
    }
  }
  return call.Result;
}

void TVCLAutoObject::KnowComponent(TComponent& component) {
  // The cache belongs to the call that holds callMutex_; outside a call a write would race.
  assert(callDepth_ > 0 && "the object's cache touched outside its call lock");
  if (knownComponent_ == &component) return;
  const com::TAutoObjectFactory* factory = AutoFactory();
  target_ = factory != nullptr ? factory->DispatchTargetOf(*this) : nullptr;
  module_ = dynamic_cast<TMtsDataModule*>(&component);
  knownComponent_ = &component;
}

HResult TVCLAutoObject::InvokeMethod(TComponent& component, com::DispId id, std::uint16_t flags,
                                     com::TDispParams& params, Variant* result, com::TExcepInfo* excepInfo,
                                     std::uint32_t* argErr) {
  const com::TAutoObjectFactory* factory = AutoFactory();
  if (factory == nullptr || factory->ClassTypeInfo() == nullptr) return com::kDISP_E_MEMBERNOTFOUND;
  KnowComponent(component);
  if (target_ == nullptr) return com::kDISP_E_MEMBERNOTFOUND;
  return com::DispInvoke(target_, factory->ClassTypeInfo(), id, flags, params, result, excepInfo, argErr);
}

void* VCLDispatchTarget(com::TAutoObject& object) {
  auto* vclObject = dynamic_cast<TVCLAutoObject*>(&object);
  TComponent* component = vclObject != nullptr ? vclObject->Component() : nullptr;
  const com::TComponentClass* componentClass =
      object.Factory() != nullptr ? object.Factory()->ComponentClass() : nullptr;
  return component != nullptr && componentClass != nullptr ? componentClass->DispatchTarget(*component) : nullptr;
}

TComPtr<IUnknown> CreateAutoObjectForComponent(TComponent& component) {
  const com::TFactoryRef factory = com::ComClassManager().GetFactoryFromClass(component);
  TComPtr<TVCLAutoObject> object = com::NewComObject<TVCLAutoObject>(*factory, &component);
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
  ProcessSessionPool().SetSettingsSource(&diagnostics::SessionPoolSettings);
  CreateVCLComObjectProc = &CreateAutoObjectForComponent;
}

void FinalizeVCLCom() {
  std::lock_guard lock(gUnitMutex);
  if (gUnitInitializations == 0 || --gUnitInitializations > 0) return;
  CreateVCLComObjectProc = nullptr;
  ProcessSessionPool().Clear();
}

}  // namespace qar::automation
