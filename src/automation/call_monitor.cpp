#include "automation/call_monitor.h"

#include "automation/automation_texts.h"
#include "automation/caller_identity.h"
#include "automation/method_name.h"

namespace qar::automation {

namespace {

// The caller chooses these texts, and they are printed into the connection and
// monitor logs and the transaction report: a line break there would forge the
// lines that follow. The session row keeps them as sent.
std::string Printable(std::string_view text) {
  std::string printable(text);
  for (char& c : printable)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return printable;
}

}  // namespace

TADOConnection* AttachCallMonitor(TComponent& component, CallContext& call, platform::Clock& clock) {
  TADOConnection* connection = nullptr;
  for (int i = 0; i < component.ComponentCount() && connection == nullptr; ++i)
    connection = dynamic_cast<TADOConnection*>(&component.Components(i));
  if (connection == nullptr) return nullptr;

  call.Monitor.emplace(*connection, clock);
  diagnostics::ClientIdentity& identity = call.Monitor->Identity();
  call.Host = Printable(IdentityField(call.IdentityText, kHostField));
  call.Application = Printable(IdentityField(call.IdentityText, kApplicationField));
  identity.Host = call.Host;
  identity.Application = call.Application;
  if (call.IdentityKind == kIdentityOperator || call.IdentityKind == kIdentityDatabaseKey) {
    call.Operator = Printable(IdentityField(call.IdentityText, kOperatorField));
    identity.Operator = call.Operator;
    identity.Method = call.AutoObject != nullptr
                          ? GetMethodName(static_cast<com::IDispatch&>(*call.AutoObject), call.DispatchId)
                          : std::string();
  } else {
    call.Operator = {};
    identity.Operator = {};
    identity.Method = texts::kMethodNotIdentified;
  }
  return connection;
}

}  // namespace qar::automation
