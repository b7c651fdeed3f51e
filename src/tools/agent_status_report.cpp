#include "tools/agent_status_report.h"

#include <filesystem>

#include "config/agent_status.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "platform/module.h"
#include "platform/mutex.h"
#include "platform/process.h"
#include "tools/command_error.h"

namespace qar::tools {

namespace {
std::int64_t Count(TADOConnection& connection, const std::string& where) {
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM WHERE IDSTCTRLEXECREM = 'P'" + where);
  query.Open();
  return query.FieldByName("N").Value().AsInt64();
}
}  // namespace

TRunningAgent FindRunningAgent() {
  TRunningAgent agent;
  const auto published = platform::NamedMutex::ReadPublished(config::kAgentMutexName);
  if (!published) return agent;
  const config::TAgentStatus status = config::ParseAgentStatus(*published);
  for (const platform::TProcessHandle& process : platform::FindProcessesOfFile(status.exe)) {
    if (process.Pid() == status.pid) agent.running = true;
  }
  if (!agent.running) return agent;
  const std::string ours =
      platform::ExtractFilePath(platform::ExecutableFileName()) + "QarSnc.exe";
  std::error_code error;
  agent.ours = std::filesystem::equivalent(platform::ToNativePath(ours), platform::ToNativePath(status.exe), error);
  agent.exe = status.exe;
  agent.pid = std::to_string(status.pid);
  agent.started = status.started;
  agent.request = status.request;
  agent.since = status.since;
  return agent;
}

std::vector<std::string> DescribeAgent(const TRunningAgent& agent) {
  if (!agent.running) return {"Agent:      not running"};
  if (!agent.ours) {
    return {"Agent:      not running from this installation; the agent of this user runs from " + agent.exe +
            " (pid " + agent.pid + ")"};
  }
  std::string supervises = "request " + agent.request + " since " + agent.since;
  if (agent.request.empty()) supervises = "no request";
  if (agent.request == config::kUnknownRequest)
    supervises = "a worker an earlier agent left (request not known) since " + agent.since;
  return {"Agent:      running, pid " + agent.pid + ", started " + agent.started, "Supervises: " + supervises};
}

std::string DescribeQueue(TADOConnection& connection) {
  try {
    // The agent's own day filter: the rows it can still start.
    const std::int64_t today =
        Count(connection, " AND CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)");
    const std::int64_t all = Count(connection, "");
    return "Pending:    " + std::to_string(today) + " today, " + std::to_string(all - today) +
           " expired from earlier days (never run)";
  } catch (const EDataError& error) {
    throw TCommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
}

}  // namespace qar::tools
