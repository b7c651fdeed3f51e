#include "agent/process_utils.h"

#include "platform/module.h"
#include "platform/text.h"

namespace qar::agent {

bool ProcessNameMatches(const std::string& exeName, const std::string& name) {
  return platform::SameTextAscii(platform::ExtractFileName(exeName), name) ||
         platform::SameTextAscii(exeName, name);
}

}  // namespace qar::agent
