// POSIX: systemd and its kin start and stop a program as it is, with signals.
#include <stdexcept>

#include "platform/service.h"

namespace qar::platform {

int RunAsService(const std::string& /*name*/, const std::function<int()>& /*body*/) {
  throw std::runtime_error("--service is for Windows; a service manager such as systemd runs the command as it is");
}

}  // namespace qar::platform
