// TfrmSync: the agent's hidden main form, holding the control-table connection and the dispatcher.
#pragma once

#include <functional>
#include <string>

#include "agent/ErrorReport.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "framework/component.h"
#include "framework/timer.h"
#include "platform/clock.h"

namespace qar::agent {

// What the form uses of the world outside the database. The defaults are the
// real ones; tests replace them to run the dispatcher in simulated time.
struct AgentServices {
  platform::Clock* clock = &platform::SystemClock();
  std::function<bool(const std::string& name)> isProcessRunning;
  std::function<void(const std::string& name)> killProcessByName;
  // Starts the worker hidden with its one parameter string; the outcome is not examined.
  std::function<void(const std::string& path, const std::string& params)> startWorker;
  std::function<void()> startWatchdog;
  // The connection string for the agent's connection (before every connect).
  std::function<std::string()> connectionString;
  // The directory of the agent's executable, without a trailing separator.
  std::string agentDirectory;

  // The agent's real services: process list, shell start, watchdog, GeralQar.
  static AgentServices Real();
};

// The form holds six components, created in this order: the 2000 ms timer, the
// connection and the four statements on it. Nothing is ever shown.
//
//   TfrmSync form(AgentServices::Real());
//   form.FormCreate();                    // connect, watchdog, probe the table
//   RunMessageLoop(form.timVerifTab, clock);
class TfrmSync : public TComponent {
 public:
  explicit TfrmSync(AgentServices services);
  std::string ClassName() const override { return "TfrmSync"; }

  // Opens the connection, clears WorkerBusy, starts the watchdog, sets
  // LastRestartTime and makes sure CTRLEXECREM exists.
  void FormCreate();
  // Sets the connecting connection's connection string.
  void adcVerifTabBeforeConnect(TADOConnection& connection);
  void timVerifTabTimer(TComponent& sender);
  // One tick: start the worker for the first pending row and supervise it.
  void ProcessPendingOperation();

  TTimer& timVerifTab;
  TADOConnection& adcVerifTab;
  TADOQuery& adqVerifTab;
  TADOCommand& acmUpdVerifTab;
  TADOCommand& acmCTRLEXECREM;
  TADOQuery& adqControleTab;

 private:
  AgentServices services_;
};

// How often a failure that repeats tick after tick is reported again (about an
// hour of 2-second ticks).
inline constexpr int kRepeatedErrorReportEvery = 1800;

// The message loop of the hidden form: delivers the timer's event on this thread
// every Interval milliseconds while it is enabled. An error that leaves the event
// goes to `report` (the default error reporting) and the loop goes on; the same
// error again in the following events is reported only every
// kRepeatedErrorReportEvery times, so a lasting outage does not flood the logs.
// Runs until `stop` is set (never, for the agent).
void RunMessageLoop(TTimer& timer, platform::Clock& clock, const std::atomic<bool>* stop = nullptr,
                    const std::function<void(const std::string&)>& report = ReportError);

}  // namespace qar::agent
