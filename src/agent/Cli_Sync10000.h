// TfrmSync: the agent's hidden main form, holding the control-table connection and the dispatcher.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "agent/error_report.h"
#include "agent/worker_watch.h"
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

// What the form uses of the world outside the database. Real() gives the real
// ones; tests replace them to run the dispatcher in simulated time.
struct AgentServices {
  platform::Clock* clock = &platform::SystemClock();
  std::shared_ptr<TWorkers> workers;
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
  // Told the request whose worker it supervises from now on and that worker's pid
  // (from its start, or its adoption); empty and 0 when none.
  std::function<void(const std::string& request, std::uint32_t workerPid)> supervising =
      [](const std::string&, std::uint32_t) {};
  // The directory of the agent's executable, without a trailing separator.
  std::string agentDirectory;
  // Where the runs' output files go (state::WorkerOutputDirectory); empty: nowhere.
  std::string outputDirectory;
  // The settings, read at each use: a row still "P" after MaxWorkerRuns runs is
  // marked "NOK" (0: never); at most MaxWorkerOutput bytes of a run's output are kept.
  std::function<std::int32_t()> maxWorkerRuns = [] { return 0; };
  std::function<std::uint64_t()> maxWorkerOutput = [] { return std::uint64_t{10} << 20; };
  // Each run at its start and at its end (keyed by TRunRecord::key), for the state
  // store; and a sign of life after every tick and supervision pass.
  std::function<void(const state::TRunRecord&)> recordRun = [](const state::TRunRecord&) {};
  std::function<void()> polled = [] {};
  // Makes run keys unique across agents (the agent's process instance).
  std::string instance;
  // The installation's dispatcher lock, taken when free and then held: true while
  // this agent dispatches; `error` says why it cannot be taken at all.
  std::function<bool(std::string& error)> dispatch = [](std::string&) { return true; };
  // Told this agent's role whenever it changes.
  std::function<void(state::TAgentRole)> role = [](state::TAgentRole) {};
  // The installation's runs still recorded as running whose agents have ended (the
  // state store), asked when this agent becomes the dispatcher.
  std::function<std::vector<state::TRunRecord>()> orphanedRuns = [] { return std::vector<state::TRunRecord>(); };
  // How many runs of a request ended with its row still "P", every agent's and
  // across restarts (the state store); none when that cannot be known.
  std::function<std::optional<std::int64_t>(std::int64_t request)> runsLeftPending =
      [](std::int64_t) { return std::optional<std::int64_t>(); };

  // The agent's real services: its workers, watchdog, GeralQar, log.
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
  // One tick. Only the agent that holds the installation's dispatcher lock goes on;
  // the others stand by. When it becomes the dispatcher it takes over the runs of
  // agents that ended. A worker it holds is supervised first; else the first
  // pending row gets its worker, supervised until its run is over. A row that can
  // never be started is marked "NOK" with the reason.
  void ProcessPendingOperation();
  // The wait before a row whose run ended without leaving "P" is started again
  // after its n-th such run: 2 s, doubling, at most 5 minutes (steady clock).
  static std::chrono::milliseconds RetryWait(std::int64_t runs) { return state::RetryWait(runs); }
  // Whether a worker this agent holds still runs (one it leaves to the next agent when it ends).
  bool HoldsWorker() { return !held_.empty(); }

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

  // A run this agent holds: one it started, or one an ended agent left (adopted).
  struct THeldRun {
    TWorkerRun worker;
    state::TRunRecord record;
    std::optional<platform::TExitStatus> exit;  // once its worker, this agent's child, was reaped
    bool adopted = false;
    bool announced = false;  // its supervision was logged (adopted)
    bool cancelled = false;  // its row was cancelled
    bool stopRefused = false;  // a cancel could not stop it (another user's worker): its row stays "C"
    bool logged = true;      // its start was logged, so its end is
    std::chrono::milliseconds began{0};  // on the steady clock (Elapsed)
    std::set<std::uint32_t> leftOver;    // processes logged as left behind
  };

  // Takes the dispatcher lock when free; publishes a change of role. False: stand by.
  bool TakeDispatch();
  // The runs ended agents left: a worker still running is held, the others closed.
  void AdoptOrphanedRuns();
  void ProbeControlTable();
  // Runs `step`; a lost connection (the database file removed or replaced) also
  // closes it, so the next step connects anew and probes the table again.
  template <class Step>
  void Guarded(Step step);
  // Supervises the first held run until it is over; then ends it.
  void SuperviseHeld();
  // Whether the run still holds the queue: its worker runs, or it ended with its row
  // still "P" while processes of the run go on working.
  bool StillRunning(THeldRun& run);
  // After a run ended: records it (the one place a run's end is recorded), logs its
  // outcome and, when its row is still "P", holds the row back for a growing wait (or
  // marks it past MaxWorkerRuns). `watched`: an agent saw it to its end.
  void EndRun(THeldRun& held, bool watched);
  // The row's status as read by id now, also after the server's midnight; empty when
  // the row is gone, none when it cannot be read (`quiet`: not reported).
  std::optional<std::string> RowStatus(std::int32_t id, bool quiet = false);
  // The same, raising what prevents reading it.
  std::string ReadRowStatus(std::int32_t id);
  // The last lines of a run's output file, for the log.
  static std::string OutputTail(const std::string& file);
  // Stops the run of a row asked to be cancelled, then marks the row.
  void CheckCancellation(THeldRun& run, std::int32_t id, bool& unmarked);
  // A cancel whose stop was refused: the row still "C" once the worker is gone is marked then.
  void MarkCancelledAfterEnd(THeldRun& run, std::int32_t id);
  // Marks the row cancelled (kCancelUpdate) and logs `line`.
  void MarkCancelled(THeldRun& run, std::int32_t id, const std::string& line);
  void MarkNotStarted(const std::string& id, const std::string& reason);
  // Logs a run's start unless the same start repeats at every tick; false when not
  // logged (its end is then not logged either).
  bool LogRunStart(const std::string& key, const std::string& message);
  std::vector<std::string> HeldKeys() const;
  std::chrono::milliseconds Elapsed() const { return services_.clock->Elapsed(); }

  // A row whose runs keep ending with it still "P".
  struct TRetry {
    std::int64_t runs = 0;               // runs so far that left it "P"
    std::chrono::milliseconds notBefore{0};
    std::string lastOutcome;
    std::optional<std::chrono::milliseconds> lastLogged;
    int unlogged = 0;                    // re-runs not logged since
  };

  AgentServices services_;
  bool probeNeeded_ = false;
  std::optional<bool> dispatching_;  // none before the first tick
  static constexpr std::chrono::minutes kAdoptAgainEvery{1};
  std::optional<std::chrono::milliseconds> lastAdopted_;  // when the runs of ended agents were last looked for
  TRepeatFilter lockErrors_, outputErrors_;
  TRepeatFilter runs_;
  std::map<std::string, TRetry> retries_;
  std::deque<THeldRun> held_;  // front: the one supervised
  std::set<std::pair<std::uint32_t, std::uint64_t>> straysLogged_;
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
