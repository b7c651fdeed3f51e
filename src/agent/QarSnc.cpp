// QarSnc.exe: the synchronisation agent's entry. Takes no arguments.
#include <exception>
#include <string>

#include "agent/Cli_Sync10000.h"
#include "agent/ErrorReport.h"
#include "agent/Restarter.h"
#include "automation/VCLCom.h"
#include "config/GeralQar.h"
#include "platform/module.h"
#include "platform/mutex.h"

int main(int argc, char** argv) {
  using namespace qar;
  if (argc == 2 && std::string(argv[1]) == agent::kRestarterArgument) {
    const std::string exe = platform::ExecutableFileName();
    return agent::RunRestarter(platform::ExtractFileDir(exe), platform::SystemClock());
  }

  // Unit start: the automation support (module short name, automation-object hook),
  // then the connection string, read and decrypted also in a second instance.
  try {
    automation::InitializeVCLCom();
    config::InitializeGeralQar();
  } catch (...) {
    agent::ReportError("start-up stopped: " + agent::DescribeException(std::current_exception()));
    return 1;
  }

  platform::NamedMutex single("QSYNC");
  if (single.Outcome() == platform::MutexOutcome::kAlreadyExists) {
    config::FinalizeGeralQar();
    automation::FinalizeVCLCom();
    return 0;
  }

  agent::TfrmSync frmSync(agent::AgentServices::Real());
  try {
    frmSync.FormCreate();
  } catch (...) {
    agent::ReportError(agent::DescribeException(std::current_exception()));
  }
  agent::RunMessageLoop(frmSync.timVerifTab, platform::SystemClock());

  config::FinalizeGeralQar();
  automation::FinalizeVCLCom();
  return 0;
}
