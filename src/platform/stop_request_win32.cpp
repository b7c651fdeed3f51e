// Windows: a windowless program has no console signal to catch; it is ended from outside.
#include "platform/stop_request.h"

namespace qar::platform {

void CatchStopSignals(const std::string& /*program*/, int /*hangupExitCode*/) {}

}  // namespace qar::platform
