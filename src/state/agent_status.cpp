#include "state/agent_status.h"

#include <charconv>

namespace qar::state {

namespace {
// One line per field: a value never holds a line break.
std::string Field(const char* name, std::string value) {
  for (char& c : value)
    if (c == '\n' || c == '\r') c = ' ';
  return std::string(name) + "=" + value + "\n";
}
}  // namespace

std::string FormatAgentStatus(const TAgentStatus& status) {
  return Field("pid", std::to_string(status.pid)) + Field("exe", status.exe) + Field("started", status.started) +
         Field("request", status.request) + Field("since", status.since);
}

TAgentStatus ParseAgentStatus(std::string_view text) {
  TAgentStatus status;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, eq);
    const std::string value(line.substr(eq + 1));
    if (name == "pid") {
      std::from_chars(value.data(), value.data() + value.size(), status.pid);
    } else if (name == "exe") {
      status.exe = value;
    } else if (name == "started") {
      status.started = value;
    } else if (name == "request") {
      status.request = value;
    } else if (name == "since") {
      status.since = value;
    }
  }
  return status;
}

}  // namespace qar::state
