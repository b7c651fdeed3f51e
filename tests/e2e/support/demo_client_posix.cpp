// POSIX: the client is QarDemo.exe, with the server linked in.
#include "child_process.h"
#include "demo_client.h"

namespace qar::e2e {

std::optional<int> RunDemoClient(const Installation& installation) {
  return ChildProcess(installation.Dir() + "QarDemo.exe", {}, installation.Dir(), installation.Dir() + "client").Wait(300);
}

std::string DemoServerModule(const Installation& installation) { return installation.Dir() + "QarDemo.exe"; }

}  // namespace qar::e2e
