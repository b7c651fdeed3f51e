// POSIX: the client is QarDemo.exe, with the server linked in.
#include "child_process.h"
#include "demo_client.h"

namespace qar::e2e {

std::optional<int> RunDemoClient(const Installation& installation) {
  return ChildProcess(installation.Dir() + "QarDemo.exe", {}, installation.Dir(), installation.Dir() + "client").Wait(300);
}

}  // namespace qar::e2e
