#include "automation/VCLCom.h"

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
void FinishInnerStage(CallContext& call, TCallEnvironment& environment) {
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

TCallEnvironment DefaultCallEnvironment() {
  return {&platform::SystemClock(),
          [](const CallContext& call, bool designTimeConnected, bool viaSocketServer) {
            diagnostics::WriteConnectionLogEntry(*call.Connection, designTimeConnected, viaSocketServer,
                                                 call.Operator, call.Application, call.Host, nullptr,
                                                 esOK, *CallEnvironment().clock);
          },
          [](const CallContext& call) { WriteTransactionReport(call, *CallEnvironment().clock); }};
}

TCallEnvironment& CallEnvironment() {
  static TCallEnvironment environment = DefaultCallEnvironment();
  return environment;
}

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
  std::lock_guard lock(callMutex_);
  try {
    return InstrumentedInvoke(id, flags, params, result, excepInfo, argErr);
  } catch (...) {
    // The edge of the call: what a step raised reaches the caller as its description.
    return com::ReportException(std::current_exception(),
                                Factory() != nullptr ? Factory()->ClassName() : std::string(), excepInfo);
  }
}

HResult TVCLAutoObject::InstrumentedInvoke(com::DispId id, std::uint16_t flags,
                                           com::TDispParams& params, Variant* result,
                                           com::TExcepInfo* excepInfo, std::uint32_t* argErr) {
  if (component_ == nullptr) return com::kDISP_E_MEMBERNOTFOUND;
  TCallEnvironment& environment = CallEnvironment();
  CallContext call;
  call.AutoObject = this;
  call.DispatchId = id;
  TOuterCleanup outerCleanup(call);

  ExtractCallerIdentity(call, params);
  if (call.IdentityKind == kIdentityDatabaseKey) {
    call.DatabaseKey = IdentityField(call.IdentityText, kDatabaseKeyField);
    SelectCallDatabase(*component_, call.DatabaseKey);
  }
  component_->SetTag(id);
  call.Connection = AttachCallMonitor(*component_, call, *environment.clock);
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
  auto* module = dynamic_cast<TMtsDataModule*>(component_);
  call.Activated = (connection != nullptr && !connection->Connected()) || call.ClientConnection != nullptr;
  if (call.Activated && module != nullptr) FireSwallowing(module->OnActivate, *module);
  if (diagnostics::IsTunningOn() && !call.IdentityText.empty())
    call.Registered = RegisterSession(connection, call.IdentityText, call.IdentityKind, id, call);
  try {
    if (module != nullptr) module->SetComplete();
  } catch (...) {
    // The method does not run; its session row goes all the same.
    if (call.Registered) UnregisterSession(connection, call.IdentityKind);
    throw;
  }

  try {
    call.Result = Forward(id, flags, params, result, excepInfo, argErr);
  } catch (...) {
    try {
      FinishInnerStage(call, environment);
    } catch (...) {
      // The forwarding's own failure is the one the caller hears of.
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

HResult TVCLAutoObject::Forward(com::DispId id, std::uint16_t flags, com::TDispParams& params,
                                Variant* result, com::TExcepInfo* excepInfo, std::uint32_t* argErr) {
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
