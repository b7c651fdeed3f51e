// The transactional object context: the votes an object casts on its activation's
// transaction, where the context comes from, and the control interface its host calls.
#pragma once

#include <cstdint>
#include <functional>

#include "com/result.h"
#include "framework/interface.h"

namespace qar::com {

// The context of one activation: SetComplete votes to commit the work done under
// it, SetAbort to roll it back.
class IObjectContext : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{51372AE0-CAE7-11CF-BE81-00AA00A2FA25}");
  virtual HResult SetComplete() = 0;
  virtual HResult SetAbort() = 0;

 protected:
  ~IObjectContext() = default;
};

// What a transactional host calls on an object it activates, deactivates and pools.
// Laid out as the system's interface of the same identifier (its three operations
// after IUnknown's, no model types), so on Windows the system calls it directly.
// CanBePooled answers a 32-bit truth value.
class IObjectControl : public IUnknown {
 public:
  static constexpr TGUID kIID = TGUID::Parse("{51372AEC-CAE7-11CF-BE81-00AA00A2FA25}");
  virtual HResult Activate() = 0;
  virtual void Deactivate() = 0;
  virtual std::int32_t CanBePooled() = 0;

 protected:
  ~IObjectControl() = default;
};

// Lets the system call IObjectControl on model objects that implement it (Windows;
// nothing elsewhere). A transactional module calls it when it is made.
void EnableSystemObjectControl();

// The context of the current activation, or null when there is none. A provider
// installed by the host answers; without one, on Windows the system's context when
// the object runs under the transaction service (none where the service is absent),
// and nothing on POSIX.
TComPtr<IObjectContext> GetObjectContext();

// Installs the provider of GetObjectContext (empty: the system's again); returns the
// one it replaces. Tests install a recording context this way.
using TObjectContextProvider = std::function<TComPtr<IObjectContext>()>;
TObjectContextProvider SetObjectContextProvider(TObjectContextProvider provider);

// The system's context (null where there is none); GetObjectContext's fallback.
TComPtr<IObjectContext> SystemObjectContext();

}  // namespace qar::com
