// Attaching the SQL monitor of one call to the data module's first connection, with the caller's identity.
#pragma once

#include "automation/call_context.h"
#include "framework/component.h"
#include "platform/clock.h"

namespace qar::automation {

// Finds the first TADOConnection (or descendant) among the components `component`
// owns. None: returns null, the call's Host, Application and Operator stay empty and
// no monitor is made. Otherwise creates the call's monitor on it (call.Monitor, which
// restores the connection's handlers when it goes) and fills the call's and the
// monitor's identity from the IdentityText: host and application for every kind; for
// kinds 4 and 5 the operator and, as Method, GetMethodName for the call's dispatch
// identifier; for kinds 0 and 3 no operator and "Método não identificado". A failure
// to read the method name throws, after the monitor was made.
TADOConnection* AttachCallMonitor(TComponent& component, CallContext& call,
                                  platform::Clock& clock = platform::SystemClock());

}  // namespace qar::automation
