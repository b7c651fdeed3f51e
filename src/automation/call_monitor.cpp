#include "automation/call_monitor.h"

#include "automation/automation_texts.h"
#include "automation/caller_identity.h"
#include "automation/method_name.h"

namespace qar::automation {

TADOConnection* AttachCallMonitor(TComponent& component, CallContext& call, platform::Clock& clock) {
  TADOConnection* connection = nullptr;
  for (int i = 0; i < component.ComponentCount() && connection == nullptr; ++i)
    connection = dynamic_cast<TADOConnection*>(&component.Components(i));
  if (connection == nullptr) return nullptr;

  call.Monitor = std::make_unique<diagnostics::TExecuteEvent>(*connection, clock);
  diagnostics::ClientIdentity& identity = call.Monitor->Identity();
  call.Host = IdentityField(call.IdentityText, kHostField);
  call.Application = IdentityField(call.IdentityText, kApplicationField);
  identity.Host = call.Host;
  identity.Application = call.Application;
  if (call.IdentityKind == kIdentityOperator || call.IdentityKind == kIdentityDatabaseKey) {
    call.Operator = IdentityField(call.IdentityText, kOperatorField);
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
