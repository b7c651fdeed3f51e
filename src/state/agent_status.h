// What a running agent publishes about itself for the administrator's tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qar::state {

// The agent's single-instance mutex; the agent publishes its status beside it.
inline constexpr const char* kAgentMutexName = "QSYNC";

// The request an agent supervises when the worker was left by an earlier agent that
// did not say whose it was.
inline constexpr std::string_view kUnknownRequest = "?";

// One agent's status, as "name=value" lines:
//
//   mutex.Publish(FormatAgentStatus(status));
//   TAgentStatus seen = ParseAgentStatus(*NamedMutex::ReadPublished(kAgentMutexName));
struct TAgentStatus {
  std::uint32_t pid = 0;
  std::string exe;      // the agent's executable file
  std::string started;  // yyyy-mm-dd hh:nn:ss
  std::string request;  // the request whose worker it supervises; empty: none
  std::string since;    // when that supervision began

  bool operator==(const TAgentStatus&) const = default;
};

std::string FormatAgentStatus(const TAgentStatus& status);
// Unknown names and malformed lines are skipped; a field not given stays empty.
TAgentStatus ParseAgentStatus(std::string_view text);

}  // namespace qar::state
