// CallContext: the working record of one instrumented automation call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "com/auto_object.h"
#include "com/dispatch.h"
#include "data/ado_connection.h"
#include "diagnostics/client_identity.h"
#include "diagnostics/execute_event.h"

namespace qar::automation {

// The kinds of caller identity (CallContext::IdentityKind).
inline constexpr std::uint8_t kIdentityNone = 0;
inline constexpr std::uint8_t kIdentityBasic = 3;             // "«#»": address, host, application
inline constexpr std::uint8_t kIdentityOperator = 4;          // "«$»": adds the operator
inline constexpr std::uint8_t kIdentityDatabaseKey = 5;       // "«$»" with 46 characters: adds a database key

// Filled step by step by TVCLAutoObject::Invoke and the routines it calls
// (ExtractCallerIdentity, AttachCallMonitor, RegisterSession, WriteTransactionReport);
// lives for one call on the thread that serves it.
struct CallContext {
  com::TAutoObject* AutoObject = nullptr;  // the automation object being called
  com::DispId DispatchId = 0;
  std::uint8_t IdentityKind = kIdentityNone;
  std::string IdentityText;  // at most 50 characters; empty for kind 0
  // Filled by AttachCallMonitor (empty without a connection).
  diagnostics::TShortString<15> Host;
  diagnostics::TShortString<10> Application;
  diagnostics::TShortString<12> Operator;
  diagnostics::TShortString<10> DatabaseKey;  // kind 5: the five characters of the key
  // The caller's own connection object (the two-argument form), held for the call.
  std::shared_ptr<TConnectionObject> ClientConnection;
  // The module connection's own object while the caller's is in its place.
  std::shared_ptr<TConnectionObject> SavedConnectionObject;
  TADOConnection* Connection = nullptr;  // the module's first connection, or none
  // The SQL monitor on Connection for this call (holding the caller's ClientIdentity).
  std::optional<diagnostics::TExecuteEvent> Monitor;
  bool WasConnected = false;
  bool Activated = false;
  bool Registered = false;
  HResult Result = com::kS_OK;
};

}  // namespace qar::automation
