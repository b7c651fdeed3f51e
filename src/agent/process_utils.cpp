#include "agent/process_utils.h"

#include "platform/module.h"
#include "platform/text.h"

namespace qar::agent {

std::string WorkerMarker(const std::string& agentDir) { return "QARSNC_INSTALLATION=" + agentDir; }
std::string WorkerRequestItem(const std::string& request) { return "QARSNC_REQUEST=" + request; }

bool ProcessNameMatches(const std::string& exeName, const std::string& name) {
  return platform::SameTextAscii(platform::ExtractFileName(exeName), name) ||
         platform::SameTextAscii(exeName, name);
}

}  // namespace qar::agent
