// QarSnc.exe: the synchronisation agent's entry. Without arguments it runs as the
// agent; --version and --help print and end.
#include <exception>
#include <string>

#include "agent/agent_state.h"
#include "agent/Cli_Sync10000.h"
#include "agent/error_report.h"
#include "agent/restarter.h"
#include "agent/state_publisher.h"
#include "agent/watchdog.h"
#include "automation/VCLCom.h"
#include "config/GeralQar.h"
#include "diagnostics/connection_mask.h"
#include "diagnostics/websrv_key.h"
#include "platform/cmdline.h"
#include "platform/datetime.h"
#include "platform/file_lock.h"
#include "platform/module.h"
#include "platform/mutex.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/stop_request.h"
#include "state/agent_status.h"
#include "state/run_counters.h"
#include "state/state_store.h"
#include "state/worker_output.h"

namespace {

using namespace qar;

constexpr const char* kUsage =
    "Usage: QarSnc.exe [--version | --help]\n"
    "Without arguments: the synchronisation agent. It polls CTRLEXECREM every 2 s, starts\n"
    "QarTab.exe from its own directory for each pending request and supervises it, and\n"
    "restarts itself about every twelve hours. One agent runs per user logon; a second\n"
    "start ends at once. Of the agents of an installation, whatever their users, one\n"
    "dispatches and the others stand by to take over. Its log goes to standard error and\n"
    "the system log (under systemd, the journal once). TERM or INT stop it; HUP starts it\n"
    "again under systemd.\n"
    "Settings: the connection string and server settings under HKEY_LOCAL_MACHINE\\\n"
    "(QarCfg.exe sets them; QarCfg.exe status shows what the agent is doing).\n";

std::string Timestamp() { return platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", platform::Now()); }

// A WebSrv setting: `fallback` when it is absent, unreadable or out of [low, high].
std::int32_t WebSrvSetting(const char* name, std::int32_t low, std::int32_t high, std::int32_t fallback) {
  platform::RegistryKey key;
  std::int32_t value = 0;
  if (key.Open(diagnostics::kWebSrvKey, false, platform::RegAccess::kRead) != platform::RegStatus::kOk ||
      key.ReadInteger(name, value) != platform::RegStatus::kOk || value < low || value > high)
    return fallback;
  return value;
}

int RunAgent() {
  // HUP asks for a fresh start, which under the service manager the restart status gives.
  platform::CatchStopSignals(agent::kAgentExeName, agent::ChooseRestartPath() == agent::TRestartPath::kServiceManager
                                                ? agent::kRestartExitStatus
                                                : 0);
  // Unit start: the automation support (module short name, automation-object hook),
  // then the connection string, read and decrypted also in a second instance.
  try {
    automation::InitializeVCLCom();
    config::InitializeGeralQar();
  } catch (...) {
    agent::ReportError("start-up stopped: " + agent::DescribeException(std::current_exception()));
    return 1;
  }

  platform::NamedMutex single(state::kAgentMutexName);
  if (single.Outcome() == platform::MutexOutcome::kAlreadyExists) {
    // Said on standard error, so whoever started this one knows why it ended at once.
    const state::TAgentStatus holder =
        state::ParseAgentStatus(platform::NamedMutex::ReadPublished(state::kAgentMutexName).value_or(""));
    platform::WriteToConsole(platform::ConsoleStream::kError,
                             "QarSnc.exe: an agent already runs for user " + platform::CurrentUserName() +
                                 (holder.pid ? ": pid " + std::to_string(holder.pid) + ", since " + holder.started +
                                                   ", " + holder.exe
                                             : std::string()) +
                                 "; this start ends\n");
    config::FinalizeGeralQar();
    automation::FinalizeVCLCom();
    return 0;
  }

  state::TAgentStatus status{platform::CurrentProcessId(), platform::ExecutableFileName(), Timestamp(), {}, {}};
  single.Publish(state::FormatAgentStatus(status));

  const std::string connection = config::GetConnectionString("");
  agent::LogInfo(std::string("QarSnc.exe ") + QAR_VERSION + " started, pid " + std::to_string(status.pid) +
                 ", settings " + config::SettingsLocation() + ", database " +
                 (connection.empty() ? std::string("(none)") : diagnostics::MaskConnectionString(connection)));
  if (connection.empty()) {
    agent::ReportError(std::string("no connection string: ") + config::SettingsLocation() + " holds no value \"" +
                       config::kStringConexValue + "\" (QarCfg.exe set-connection stores one)");
  }

  agent::AgentServices services = agent::AgentServices::Real();
  state::TAgentRecord self;
  self.pid = status.pid;
  self.instance = platform::ProcessInstance(self.pid);
  self.user = platform::CurrentUserName();
  self.exe = status.exe;
  self.started = platform::NowUtc();
  self.role = state::TAgentRole::kStandby;  // until it holds the dispatcher lock
  agent::TStatePublisher state(state::StateStorePath(), self, platform::SystemClock(), agent::ReportError,
                               services.outputDirectory);
  const auto report = [&state](const std::string& message) {
    state.Error(message);
    agent::ReportError(message);
  };
  services.report = report;
  services.recordRun = [&state](const state::TRunRecord& run) {
    state::TRunRecord mine = run;
    if (mine.agentUser.empty()) mine.agentUser = state.Self().user;  // an adopted run keeps its own agent's
    if (mine.agentExe.empty()) mine.agentExe = state.Self().exe;
    state.Run(mine, state::RunEndCounters(mine));  // a run's end counts, in the same write
  };
  services.polled = [&state] { state.Polled(); };
  services.instance = self.instance;
  services.maxWorkerRuns = [] { return WebSrvSetting("MaxWorkerRuns", 0, INT32_MAX, 0); };
  services.maxWorkerOutput = [] {
    return static_cast<std::uint64_t>(WebSrvSetting("MaxWorkerOutput", 1, 1024, state::kDefaultMaxWorkerOutputMb)) << 20;
  };
  services.supervising = [&](const std::string& request, std::uint32_t workerPid) {
    status.request = request;
    status.since = request.empty() ? std::string() : Timestamp();
    single.Publish(state::FormatAgentStatus(status));
    state.Supervising(request, workerPid);
  };
  // One dispatcher per installation, whatever its user: the lock beside the state store.
  platform::TFileLock dispatcher(state::DispatcherLockPath());
  services.dispatch = [&dispatcher](std::string& error) {
    const bool held = dispatcher.TryLock();
    error = dispatcher.Error();
    return held;
  };
  services.role = [&state](state::TAgentRole role) { state.Role(role); };
  services.orphanedRuns = [&state] { return state.OrphanedRuns(); };
  services.runsLeftPending = [&state](std::int64_t request) { return state.RunsLeftPending(request); };
  agent::TfrmSync frmSync(std::move(services));
  try {
    frmSync.FormCreate();
  } catch (...) {
    agent::ReportError(agent::DescribeException(std::current_exception()));
  }
  state.Polled();
  agent::RunMessageLoop(frmSync.timVerifTab, platform::SystemClock(), platform::StopRequested, report);

  const std::string ending = "ending (" + platform::StopReason() + ")" +
                             (frmSync.HoldsWorker() ? "; the running worker is left to finish and the next agent supervises it"
                                                    : "");
  // A signal nobody sends to stop it on purpose ends it with 128 + its number.
  platform::StopExitCode() >= 128 ? agent::ReportError(ending) : agent::LogInfo(ending);
  state.Ended();  // its runs are in the store before the next dispatcher looks for them
  dispatcher.Unlock();
  single.Close();
  config::FinalizeGeralQar();
  automation::FinalizeVCLCom();
  return platform::StopExitCode();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string argument = argc == 2 ? argv[1] : "";
  if (argc == 2 && argument == agent::kRestarterArgument) {
    return agent::RunRestarter(platform::ExecutableFileName(), platform::SystemClock());
  }
  if (argc == 2 && argument == "--version") {
    platform::WriteToConsole(platform::ConsoleStream::kOut, std::string("QarSnc.exe ") + QAR_VERSION + "\n");
    return 0;
  }
  if (argc == 2 && (argument == "--help" || argument == "-h" || argument == "/?")) {
    platform::WriteToConsole(platform::ConsoleStream::kOut, kUsage);
    return 0;
  }
  if (argc > 1) {
    platform::WriteToConsole(platform::ConsoleStream::kError,
                             "QarSnc.exe: unknown argument (QarSnc.exe --help lists them)\n");
    return 2;
  }
  return RunAgent();
}
