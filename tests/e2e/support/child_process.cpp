#include "child_process.h"

#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"

namespace qar::e2e {

std::vector<std::uint32_t> ProcessesNamed(const std::string& exeName) {
  std::vector<std::uint32_t> pids;
  for (const platform::ProcessEntry& entry : platform::SnapshotProcesses().entries) {
    if (platform::SameTextAscii(platform::ExtractFileName(entry.exeName), exeName)) pids.push_back(entry.pid);
  }
  return pids;
}

bool IsRunning(std::uint32_t pid, const std::string& exeName) {
  for (const std::uint32_t running : ProcessesNamed(exeName)) {
    if (running == pid) return true;
  }
  return false;
}

}  // namespace qar::e2e
