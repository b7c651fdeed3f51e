#include "agent/ErrorReport.h"

#include <cstdio>

#include "agent/AgentState.h"
#include "platform/datetime.h"
#include "platform/systemlog.h"
#include "platform/text.h"

namespace qar::agent {

void ReportError(const std::string& message) {
  const std::string line = platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", platform::Now()) + " " +
                           kAgentExeName + ": " + message + "\n";
  const std::string utf8 = platform::AnsiToConsole(line);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
  platform::WriteSystemLogError(kAgentExeName, message);
}

std::string DescribeException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace qar::agent
