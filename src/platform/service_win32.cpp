// Windows: the Service Control Manager's dispatcher, one service in this process.
#include <windows.h>

#include <exception>
#include <stdexcept>

#include "platform/service.h"
#include "platform/stop_request.h"

namespace qar::platform {

namespace {

// The dispatcher calls ServiceMain and the control handler without a context of
// ours; one service per process, so the process holds it.
struct TServiceRun {
  std::string name;
  const std::function<int()>* body = nullptr;
  SERVICE_STATUS_HANDLE status = nullptr;
  int result = 0;
  std::exception_ptr error;
};
TServiceRun* gRun = nullptr;

void Report(DWORD state, int exitCode = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  if (exitCode != 0) {
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
  }
  status.dwWaitHint = state == SERVICE_STOP_PENDING ? 10000 : 0;
  SetServiceStatus(gRun->status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD /*type*/, void* /*data*/, void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      RequestStop(0, control == SERVICE_CONTROL_STOP ? "the service was stopped" : "the system shuts down");
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD /*argc*/, char** /*argv*/) {
  gRun->status = RegisterServiceCtrlHandlerExA(gRun->name.c_str(), Control, nullptr);
  if (gRun->status == nullptr) {
    gRun->error = std::make_exception_ptr(
        std::runtime_error("the service " + gRun->name + " could not register its control handler (error " +
                           std::to_string(GetLastError()) + ")"));
    return;
  }
  Report(SERVICE_RUNNING);
  try {
    gRun->result = (*gRun->body)();
  } catch (...) {
    gRun->error = std::current_exception();
    gRun->result = 1;
  }
  Report(SERVICE_STOPPED, gRun->result);
}

}  // namespace

int RunAsService(const std::string& name, const std::function<int()>& body) {
  TServiceRun run;
  run.name = name;
  run.body = &body;
  gRun = &run;
  SERVICE_TABLE_ENTRYA table[] = {{run.name.data(), ServiceMain}, {nullptr, nullptr}};
  const bool dispatched = StartServiceCtrlDispatcherA(table) != 0;
  const DWORD error = GetLastError();
  gRun = nullptr;
  if (!dispatched) {
    throw std::runtime_error(error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                                 ? "--service: this program was not started by the Service Control Manager"
                                 : "--service: the Service Control Manager's dispatcher failed (error " +
                                       std::to_string(error) + ")");
  }
  if (run.error) std::rethrow_exception(run.error);
  return run.result;
}

}  // namespace qar::platform
