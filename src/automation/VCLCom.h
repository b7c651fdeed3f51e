// VCLCom: the automation object that wraps a component for remote clients, and the
// unit's start-up work (module short name, the automation-object hook).
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <string_view>

#include "automation/call_context.h"
#include "com/auto_object.h"
#include "com/factory.h"
#include "com/object_context.h"
#include "framework/component.h"
#include "platform/clock.h"

namespace qar::automation {

class TMtsDataModule;
class TVCLAutoObjectFactory;

// The interface an automation object hands the component it wraps (stored in the
// component's slot). FreeOnRelease makes the object own (and free) the component.
class IVCLComObject : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{E07892A0-F52E-11CF-BD2F-0020AF0E5B81}");
  virtual void FreeOnRelease() = 0;

 protected:
  ~IVCLComObject() = default;
};

// What creating a wrapped component needs from outside: the clock of the waits
// between attempts, and the writer of the bug report after the first failure.
struct TCreationEnvironment {
  using TBugReportWriter =
      std::function<void(std::string_view failureClassName, std::string_view message,
                         std::string_view componentModuleFileName,
                         std::string_view registeredClassName)>;
  platform::Clock* clock;
  TBugReportWriter writeBugReport;
};

// What an instrumented call needs from outside: the clock of its monitor, log
// entries and report, and the writers of the connection log entries it requests
// itself, of tr_report.txt and of a session row that could not be registered.
struct TCallEnvironment {
  using TConnectionLogWriter =
      std::function<void(const CallContext& call, bool designTimeConnected, bool viaSocketServer)>;
  using TTransactionReportWriter = std::function<void(const CallContext& call)>;
  using TRegistrationFailureWriter = std::function<void(const CallContext& call, std::string_view failure)>;
  platform::Clock* clock;
  TConnectionLogWriter writeConnectionLogEntry;  // never raises
  TTransactionReportWriter writeTransactionReport;  // raises its input/output failure
  TRegistrationFailureWriter writeRegistrationFailure;  // never raises
};
// What the objects of one class need from outside, held by their factory. The
// object context is the one a transactional module keeps when it is activated.
struct TAutomationEnvironment {
  using TObjectContextProvider = std::function<TComPtr<com::IObjectContext>()>;
  TCreationEnvironment creation;
  TCallEnvironment call;
  TObjectContextProvider objectContext;  // empty: the system's (com::GetObjectContext)
};
// The production environment on `clock`: the day's logs, tr_report.txt, and
// bugreport.txt for a failed creation or a session row that cannot be registered;
// the system's object context.
TAutomationEnvironment DefaultAutomationEnvironment(platform::Clock& clock = platform::SystemClock());

// The automation object of a component. Made by its factory when a client creates
// the class (it then creates the factory's component class itself and owns it), or
// by CreateAutoObjectForComponent for an existing component (which it does not own).
// Calls are instrumented (see Invoke) and forwarded to the component through
// DispInvoke. Queries the object cannot answer go to the component, so interfaces the
// component implements reach clients. A component has at most one object; when the
// component is destroyed first, the object forgets it and every later call fails with
// a description saying so.
//
// Calls on one object run one at a time: each takes the object's call lock (a
// recursive one, so a method may call its own object again on the same thread), and
// on Windows the classes are registered in the apartment threading model, where the
// system delivers every call of an object on its one thread. Calls on different
// objects run side by side.
class TVCLAutoObject : public com::TImplements<com::TAutoObject, IVCLComObject>, private IComponentWrapper {
 public:
  TVCLAutoObject(com::TComObjectFactory& factory, TComponent* component);
  ~TVCLAutoObject() override;

  // Sets the process's date settings, creates the component when none was given (up
  // to five attempts: a bug report after the first failure, 1000 ms before the third,
  // fourth and fifth, the fifth failure thrown; what is not a std::exception is
  // thrown at once), then stores itself in the component's slot (EComponentError when
  // another object already wraps the component).
  void Initialize() override;
  HResult ObjQueryInterface(const TGUID& iid, void** object) override;

  void FreeOnRelease() override { ownsComponent_ = true; }

  // The wrapped component; null once it was destroyed.
  TComponent* Component() const { return component_; }
  bool OwnsComponent() const { return ownsComponent_; }
  // The environment of the object's class: its factory's, the production one when the
  // factory is no TVCLAutoObjectFactory.
  const TAutomationEnvironment& Environment() const;

 protected:
  // Invoke, the object's dispatch entry (TAutoObject's), runs the instrumented call
  // below and turns a failure of one of its steps into kDISP_E_EXCEPTION with its
  // description in `excepInfo`: the one place where the layer's errors become a code.
  //
  // The instrumented call, in this order:
  //   1  the caller identity (and connection) is taken out of `params` (ExtractCallerIdentity);
  //   3  a database key selects the thread's CurrentDatabaseKey (SelectCallDatabase);
  //   4  the component's Tag := id;
  //   5  the module's first connection gets the call's monitor (AttachCallMonitor);
  //   6  an open connection is closed;
  //   7  with a caller's connection: it replaces the connection's own object and a log
  //      entry is requested (socket server); 8  otherwise a connection that was open
  //      requests one (design time);
  //   9  OnActivate of a TMtsDataModule, when the connection is closed or the caller's
  //      is in place (its errors swallowed);
  //  10  with tuning on and an identity: the session row (RegisterSession);
  //  11  a TMtsDataModule votes complete on its context;
  //  12  the method runs through DispInvoke with the remaining arguments;
  //  13  an open transaction is reported (tr_report.txt) and rolled back, then the
  //      session row is removed;
  //  14  OnDeactivate (errors swallowed); 15  the connection's open data sets are closed;
  //  16  the connection's own object is put back, the monitor goes (the connection's
  //      handlers are back), CurrentDatabaseKey is emptied.
  // The method's own result, exception information and argument error reach the
  // caller as DispInvoke gives them. A failure of a step of the call itself (a bad
  // connection argument, a failed vote, an unwritable report) ends the call with
  // kDISP_E_EXCEPTION and its description in `excepInfo`. However the call ends, the
  // monitor is destroyed, CurrentDatabaseKey emptied, a transaction the method left
  // open rolled back and a registered session row removed; a failed report still ends
  // the call with its error, after them. A failed vote (11) skips the method, not the
  // clean-ups: a transaction OnActivate opened is rolled back too.
  //
  // A nested call, one that arrives while this object is already in a call (a method
  // that calls its own object), goes straight to the method through DispInvoke: no
  // identity, no closing, no data-set closing, no key change, no second session row.
  // It works on the outer call's connection, transaction and key.
  HResult InvokeMember(com::DispId id, std::uint16_t flags, com::TDispParams& params, Variant* result,
                       com::TExcepInfo* excepInfo, std::uint32_t* argErr) override;

 private:
  void ComponentDestroyed() noexcept override;
  void CreateComponent(const com::TComponentClass& componentClass);
  // The method's own call, on the object the type information dispatches to.
  HResult InvokeMethod(TComponent& component, com::DispId id, std::uint16_t flags, com::TDispParams& params,
                       Variant* result, com::TExcepInfo* excepInfo, std::uint32_t* argErr);

  // What the calls ask of `knownComponent_`, found once (under callMutex_): each is a
  // cast, and casts cost as much as the rest of a call's own work.
  void KnowComponent(TComponent& component);

  std::atomic<TComponent*> component_;
  TVCLAutoObjectFactory* const vclFactory_;  // null for another kind of factory
  TComponent* knownComponent_ = nullptr;
  void* target_ = nullptr;             // the methods' object
  TMtsDataModule* module_ = nullptr;   // the component as a transactional module, or null
  bool ownsComponent_ = false;
  std::recursive_mutex callMutex_;
  int callDepth_ = 0;  // calls of this object under way on the thread that holds callMutex_
  bool registrationFailureLogged_ = false;
};

// The hook behind TComponent::ComObject: an automation object for `component` from
// the factory registered for its class. Throws the class manager's EOleError when
// no factory is registered.
TComPtr<IUnknown> CreateAutoObjectForComponent(TComponent& component);

// The object context of an activation of `component`: from the environment of the
// automation object that wraps it, the system's when none does.
TComPtr<com::IObjectContext> ObjectContextOf(const TComponent& component);

// Where a TVCLAutoObject's calls go: its component, when it has one of the factory's
// component class; null otherwise.
void* VCLDispatchTarget(com::TAutoObject& object);

// A new TVCLAutoObject of `factory` that creates its own component.
TComPtr<IUnknown> CreateVCLAutoObject(com::TComObjectFactory& factory);

// The factory of TVCLAutoObjects, with their environment. Made by VCLAutoObjectFactoryOf.
class TVCLAutoObjectFactory : public com::TAutoObjectFactory {
 public:
  TVCLAutoObjectFactory(com::TFactoryInfo info, const void* moduleAnchor, TComPtr<com::ITypeInfo> typeInfo,
                        com::TComponentClass componentClass, TAutomationEnvironment environment)
      : TAutoObjectFactory(TRegisteredByDerived{}, std::move(info), &CreateVCLAutoObject, moduleAnchor,
                           std::move(typeInfo), std::move(componentClass), &VCLDispatchTarget),
        environment_(std::move(environment)) {
    Register();
  }
  ~TVCLAutoObjectFactory() override { Unregister(); }
  // What the objects of the class use; change it only while none is being made or called.
  TAutomationEnvironment& Environment() { return environment_; }

 private:
  TAutomationEnvironment environment_;
};

// The factory of a class whose objects wrap a TModule (a component class with a
// default constructor); `typeInfo` binds the members of TModule. The class is
// registered in the apartment threading model, whatever `info` says: its calls must
// not run at the same time.
//
//   automation::TVCLAutoObjectFactory gFactory = automation::VCLAutoObjectFactoryOf<TdmVendas>(...);
template <class TModule>
TVCLAutoObjectFactory VCLAutoObjectFactoryOf(com::TFactoryInfo info, TComPtr<com::ITypeInfo> typeInfo,
                                             TAutomationEnvironment environment = DefaultAutomationEnvironment()) {
  info.ThreadingModel = "Apartment";
  com::TComponentClass componentClass = com::TComponentClass::Of<TModule>(info.ClassName);
  return TVCLAutoObjectFactory(std::move(info), &com::kModuleAnchorOf<TModule>, std::move(typeInfo),
                               std::move(componentClass), std::move(environment));
}

// The unit's start-up and end, counted: the first initialisation computes the module
// short name and installs CreateAutoObjectForComponent as CreateVCLComObjectProc; the
// last finalisation removes it.
void InitializeVCLCom();
void FinalizeVCLCom();

}  // namespace qar::automation
