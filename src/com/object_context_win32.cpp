#include "com/object_context.h"

#include <windows.h>
#include <objbase.h>
#include <comsvcs.h>
#undef GetObjectContext  // the system header's macro; the model has a function of that name

#include "com/com_object.h"
#include "com/com_server.h"

namespace qar::com {

namespace {

using TGetObjectContext = HRESULT(WINAPI*)(::IObjectContext** context);

// The transaction service's own GetObjectContext, or null where the service is not
// installed. The library stays loaded for the life of the process, so no context
// handed out can outlive its code.
TGetObjectContext SystemGetObjectContext() {
  static const TGetObjectContext function = []() -> TGetObjectContext {
    HMODULE library = LoadLibraryA("comsvcs.dll");
    if (library == nullptr) return nullptr;
    return reinterpret_cast<TGetObjectContext>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetObjectContext")));
  }();
  return function;
}

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

}  // namespace

void EnableSystemObjectControl() {
  // Registered once; further calls find it there.
  RegisterNativeInterface(IObjectControl::kIID);
}

TComPtr<IObjectContext> SystemObjectContext() {
  const TGetObjectContext get = SystemGetObjectContext();
  if (get == nullptr) return nullptr;
  ::IObjectContext* context = nullptr;
  const HRESULT result = get(&context);
  if (result == CONTEXT_E_NOCONTEXT || (SUCCEEDED(result) && context == nullptr)) return nullptr;
  if (FAILED(result)) throw EOleError(result, ResultText(result));
  return TComPtr<IObjectContext>(NewComObject<TSystemObjectContext>(context));
}

}  // namespace qar::com
