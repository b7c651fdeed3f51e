// The transactional object context: the votes an object casts on its activation's
// transaction, the system's context, and the control interface its host calls.
#pragma once

#include <cstdint>

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

// The system's context of the current activation: on Windows the transaction
// service's when the object runs under it (null where the service is absent or the
// object is not under it), null on POSIX. The default context of automation objects;
// a host or a test gives its own through the objects' environment.
TComPtr<IObjectContext> GetObjectContext();

}  // namespace qar::com
