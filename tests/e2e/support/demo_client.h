// The demonstration server's client as each system runs it against an installation.
#pragma once

#include <optional>

#include "installation.h"

namespace qar::e2e {

// One run of the client in the installation's directory, which holds a copy of QarDemo.exe: its exit
// code (nothing when it did not end in time), its output in client.out and client.err. POSIX runs
// QarDemo.exe; Windows runs demo.vbs with the script host through the system's COM, a copy of
// QarDemoSrv.dll there registered for the run. That module (DemoServerModule) writes tr_report.txt.
std::optional<int> RunDemoClient(const Installation& installation);
// Windows only: the script `script` in the installation's directory run the same way (QarDemoSrv.dll
// registered for the run), its output in `output`.out and `output`.err.
std::optional<int> RunDemoScript(const Installation& installation, const std::string& script, const std::string& output);
std::string DemoServerModule(const Installation& installation);

}  // namespace qar::e2e
