// POSIX: the client is QarDemo.exe itself, the server linked into it.
#include "demo_client.h"

namespace qar::e2e {

DemoRun RunDemoClient(const Installation& installation) {
  return RunToEnd(installation.Dir() + "QarDemo.exe", {}, installation.Dir(), "client");
}

}  // namespace qar::e2e
