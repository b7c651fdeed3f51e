#include "com/object_context.h"

#include <windows.h>
#include <objbase.h>
#include <comsvcs.h>
#undef GetObjectContext  // the system header's macro; the model has a function of that name

#include <cstring>

#include "com/com_object.h"
#include "com/server/native_bridge_win32.h"

namespace qar::com {

namespace {

// The system's context seen through the model: the two votes.
class TSystemObjectContext : public TImplements<TComObject, IObjectContext> {
 public:
  // Takes over the caller's reference.
  explicit TSystemObjectContext(::IObjectContext* context) : context_(context) {}
  ~TSystemObjectContext() override { context_->Release(); }
  HResult SetComplete() override { return context_->SetComplete(); }
  HResult SetAbort() override { return context_->SetAbort(); }

 private:
  ::IObjectContext* context_;
};

// What the transaction service calls on a model object that implements
// IObjectControl. Deactivate and CanBePooled return no result code: a failure there
// stays in the thread's error information, and the object is not pooled.
class TObjectControlBridge final : public TNativeBridge<::IObjectControl, IObjectControl> {
 public:
  using TNativeBridge::TNativeBridge;

  STDMETHODIMP Activate() override {
    return SystemEntry("IObjectControl", [&] { return static_cast<HRESULT>(ModelInterfaceOf().Activate()); });
  }
  STDMETHODIMP_(void) Deactivate() override {
    SystemEntry("IObjectControl", [&] {
      ModelInterfaceOf().Deactivate();
      return S_OK;
    });
  }
  STDMETHODIMP_(BOOL) CanBePooled() override {
    BOOL pooled = FALSE;
    SystemEntry("IObjectControl", [&] {
      pooled = ModelInterfaceOf().CanBePooled();
      return S_OK;
    });
    return pooled;
  }
};

}  // namespace

void EnableSystemObjectControl() {
  // Registered once; further calls find it there.
  RegisterNativeBridge<TObjectControlBridge>();
}

TComPtr<IObjectContext> GetObjectContext() {
  // The context object of the calling apartment answers IObjectContext only under
  // the transaction service; elsewhere (and where the service is not installed) any
  // failure means no context. The call lives in ole32, present on every system, so a
  // server loads and runs without the service.
  GUID iid;
  static_assert(sizeof iid == sizeof IObjectContext::kIID);
  std::memcpy(&iid, &IObjectContext::kIID, sizeof iid);
  ::IObjectContext* context = nullptr;
  if (CoGetObjectContext(iid, reinterpret_cast<void**>(&context)) != S_OK || context == nullptr)
    return nullptr;
  return TComPtr<IObjectContext>(NewComObject<TSystemObjectContext>(context));
}

}  // namespace qar::com
