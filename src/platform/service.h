// Running as a Windows service: the Service Control Manager starts the program at boot and asks it to stop.
#pragma once

#include <functional>
#include <string>

namespace qar::platform {

// Runs `body` as the service `name` of a process that the Service Control Manager
// started: reports the service running, turns its stop and shutdown requests into
// RequestStop (so `body` ends as after Ctrl+C), and reports it stopped, with body's
// result as the service's exit code, once `body` returns. Returns that result; an
// exception of `body` is raised again here, after the service was reported stopped.
// Raises std::runtime_error when no Service Control Manager started this process, and
// always on POSIX, where a service manager runs the program as it is.
int RunAsService(const std::string& name, const std::function<int()>& body);

}  // namespace qar::platform
