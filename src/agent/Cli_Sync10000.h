// TfrmSync: the agent's hidden main form, holding the control-table connection and the dispatcher.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "agent/error_report.h"
#include "agent/process_utils.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "framework/component.h"
#include "framework/timer.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "state/run_counters.h"
#include "state/state_store.h"

namespace qar::agent {

// One worker start: the program, its parameter string, the request it is for and
// the file that takes its output (empty: none).
struct TWorkerStart {
  std::string path, params, request, output;
};

// What the form uses of the world outside the database. Real() gives the real
// ones; tests replace them to run the dispatcher in simulated time.
struct AgentServices {
  platform::Clock* clock = &platform::SystemClock();
  TWorkerWatch workers;
  // Starts the worker hidden with its one parameter string.
  std::function<platform::ProcessResult(const TWorkerStart& start)> startWorker;
  // How the worker last started ended, once it has; none while it runs or when that
  // cannot be known. Its process id (0: not known).
  std::function<std::optional<platform::TExitStatus>()> workerEnd = [] { return std::nullopt; };
  std::function<std::uint32_t()> workerPid = [] { return 0u; };
  // Its process identity (platform::ProcessInstance); empty: not known.
  std::function<std::string()> workerInstance = [] { return std::string(); };
  // The longest parameter string the system can start the worker `path` with.
  std::function<std::size_t(const std::string& path)> maxParams = platform::MaxStartParamsLength;
  std::function<void()> startWatchdog;
  // The connection string for the agent's connection (before every connect).
  std::function<std::string()> connectionString;
  // Signs of life and failures (the agent's log).
  std::function<void(const std::string&)> log = LogInfo;
  std::function<void(const std::string&)> report = ReportError;
  // True once the agent is asked to end: supervision stops, the worker runs on.
  std::function<bool()> stopRequested = [] { return false; };
  // Told the request whose worker runs from now on (from its start); empty when none.
  std::function<void(const std::string& request)> supervising = [](const std::string&) {};
  // The directory of the agent's executable, without a trailing separator.
  std::string agentDirectory;
  // Where each run's output file goes, ending with a separator; empty: nowhere.
  std::string logDirectory;
  // A row still "P" after this many runs is marked "NOK" (0: never).
  std::int32_t maxWorkerRuns = 0;
  // Each run at its start and at its end (keyed by TRunRecord::key), for the state
  // store; and a sign of life after every tick and supervision pass.
  std::function<void(const state::TRunRecord&)> recordRun = [](const state::TRunRecord&) {};
  std::function<void()> polled = [] {};
  // Makes run keys unique across agents (the agent's process instance).
  std::string instance;

  // The agent's real services: its workers, shell start, watchdog, GeralQar, log.
  static AgentServices Real();
};

// The form holds seven components, created in this order: the 2000 ms timer, the
// connection and the five statements on it. Nothing is ever shown.
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
  // Sets the connecting connection's connection string; one without a provider
  // is read with the agent's provider "SQLOLEDB.1".
  void adcVerifTabBeforeConnect(TADOConnection& connection);
  void timVerifTabTimer(TComponent& sender);
  // One tick. A worker already running (one an earlier agent left) is supervised
  // first; else the first pending row gets its worker, supervised until no worker
  // is left. A row that can never be started is marked "NOK" with the reason.
  void ProcessPendingOperation();
  static std::chrono::milliseconds RetryWait(int runs) { return state::RetryWait(runs); }
  // The request whose worker an earlier agent left running, as it published it.
  void AdoptRequest(const std::string& id) { lastRequest_ = id; }

  TTimer& timVerifTab;
  TADOConnection& adcVerifTab;
  TADOQuery& adqVerifTab;
  TADOCommand& acmUpdVerifTab;
  TADOCommand& acmCTRLEXECREM;
  TADOQuery& adqControleTab;
  TADOCommand& acmNaoIniciado;  // marks a row that can never be started

 private:
  // A tick's three steps: select the row to start, check that it can ever start (a
  // row that cannot is marked "NOK"), start its worker and supervise it.
  struct TPendingRow {
    std::string id, operation;
  };
  struct TWorkerPlan {
    std::string path, params;
    std::int32_t idNumber = 0;
  };
  std::optional<TPendingRow> SelectPendingRow();
  std::optional<TWorkerPlan> CheckPendingRow(const TPendingRow& row);
  void StartWorker(const TPendingRow& row, const TWorkerPlan& plan);

  void ProbeControlTable();
  // Runs `step`; a lost connection (the database file removed or replaced) also
  // closes it, so the next step connects anew and probes the table again.
  template <class Step>
  void Guarded(Step step);
  void Supervise(const std::string& id, platform::TDateTime began);
  // After a run of `id` ended: records it, logs its outcome and, when its row is
  // still "P", holds the row back for a growing wait (or marks it past MaxWorkerRuns).
  void EndRun(const std::string& id, state::TRunRecord run, bool cancelled);
  // The row's status as read by id now; none when it cannot be read.
  std::optional<std::string> RowStatus(std::int32_t id);
  // The last lines of a run's output file, for the log.
  static std::string OutputTail(const std::string& file);
  // Stops the workers of a row asked to be cancelled, then marks the row.
  void CheckCancellation(std::int32_t id, bool& unmarked);
  void MarkNotStarted(const std::string& id, const std::string& reason);
  // Logs a run's start unless the same start repeats at every tick; its end is
  // logged only when its start was.
  void LogRunStart(const std::string& key, const std::string& message);

  // A row whose runs keep ending with it still "P".
  struct TRetry {
    int runs = 0;                    // runs so far that left it "P"
    platform::TDateTime notBefore = 0;
    std::string lastOutcome;
    platform::TDateTime lastLogged = 0;
    int unlogged = 0;                // re-runs not logged since
  };

  AgentServices services_;
  bool probeNeeded_ = false;
  std::string lastRequest_;  // the request of the worker last started or adopted
  bool runLogged_ = false;   // the last start was logged, so its end is too
  TRepeatFilter runs_;
  std::map<std::string, TRetry> retries_;
  std::optional<state::TRunRecord> run_;  // the run being supervised
  bool cancelled_ = false;                 // its row was cancelled
  std::uint64_t runCount_ = 0;
};

// The message loop of the hidden form: delivers the timer's event on this thread
// every Interval milliseconds while it is enabled. An error that leaves the event
// goes to `report` (the default error reporting) and the loop goes on; the same
// error again in the following events is reported only every
// kRepeatedErrorReportEvery times, so a lasting outage does not flood the logs.
// Runs until `stop` says so (for the agent: until it is asked to end).
void RunMessageLoop(TTimer& timer, platform::Clock& clock, const std::function<bool()>& stop,
                    const std::function<void(const std::string&)>& report = ReportError);

}  // namespace qar::agent
