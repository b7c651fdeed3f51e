// The demonstration server's client as each system runs it against an installation.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "installation.h"

namespace qar::e2e {

std::string BuiltDemoClient();  // QarDemo.exe of this build

struct DemoRun {
  std::optional<int> exitCode;  // nothing when it did not end in time
  std::string out, err;
};

// Runs a program to its end in `dir`; its output goes to <dir><name>.out/.err.
DemoRun RunToEnd(const std::string& path, const std::vector<std::string>& args, const std::string& dir,
                 const std::string& name);

// One run of the client against `installation`, whose directory holds a copy of
// QarDemo.exe. POSIX: that program. Windows: demo.vbs run by the script host through
// the system's COM, with a copy of QarDemoSrv.dll in the directory registered for
// the run. Either way the server's module, and so tr_report.txt, lies in the directory.
DemoRun RunDemoClient(const Installation& installation);

}  // namespace qar::e2e
