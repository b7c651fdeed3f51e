#include "agent/Cli_Sync10000.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_texts.h"
#include "state/operation_value.h"
#include "agent/watchdog.h"
#include "agent/worker_watch.h"
#include "config/GeralQar.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "diagnostics/mask_password.h"
#include "platform/file_tail.h"
#include "platform/module.h"
#include "platform/stop_request.h"
#include "state/agent_status.h"
#include "state/control_requests.h"
#include "state/control_table.h"
#include "state/worker_output.h"

namespace qar::agent {

using state::JoinStatementLines;
using state::kCancelUpdate;
using state::kCreateTable;
using state::kIdParameter;
using state::kPendingRowsQuery;
using state::kRowByIdQuery;
using state::kStatusCancelRequested;
using state::kStatusPending;

namespace {
constexpr unsigned kTimerIntervalMs = 2000;
constexpr std::chrono::milliseconds kStartWaitMs{1000};
constexpr std::chrono::milliseconds kSupervisionWaitMs{10000};
constexpr const char* kAgentProvider = "SQLOLEDB.1";
// Lost connection: what a driver reports when its database went away under it.
constexpr const char* kConnectionLost = "08S01";

// The row marked when it can never be started, with the reason for the requester.
constexpr const char* kNotStartedUpdate[] = {
    "UPDATE CTRLEXECREM",
    "   SET IDSTCTRLEXECREM = 'NOK',",
    "           DSERRO = :DSERRO,",
    "           DTULTATU = GETDATE()",
    " WHERE IDCTRLEXECREM = :IDCTRLEXECREM",
    "   AND IDSTCTRLEXECREM = 'P'",
};

template <std::size_t N>
void SetSql(TADOQuery& query, const char* const (&lines)[N]) {
  for (const char* line : lines) query.SQL().Add(line);
}

// The id parameter: integer, size 16, null until set.
void DeclareIdParameter(TParameters& parameters) {
  TParameter& id = parameters.ParamByName(kIdParameter);
  id.SetDataType(ftInteger);
  id.SetSize(16);
  id.SetValue(Variant::Null());
}

template <class Number>
bool ParseNumber(const std::string& text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

AgentServices AgentServices::Real() {
  AgentServices services;
  services.agentDirectory = platform::ExtractFileDir(platform::ExecutableFileName());
  services.workers = SystemWorkers(services.agentDirectory);
  if (platform::kChildOutputToFile) services.outputDirectory = state::WorkerOutputDirectory();
  services.startWatchdog = [] { StartWatchdog(); };
  services.connectionString = [] { return config::GetConnectionString(""); };
  services.stopRequested = platform::StopRequested;
  return services;
}

TfrmSync::TfrmSync(AgentServices services)
    : timVerifTab(CreateComponent<TTimer>()),
      adcVerifTab(CreateComponent<TADOConnection>()),
      adqVerifTab(CreateComponent<TADOQuery>()),
      acmUpdVerifTab(CreateComponent<TADOCommand>()),
      acmCTRLEXECREM(CreateComponent<TADOCommand>()),
      adqControleTab(CreateComponent<TADOQuery>()),
      acmNaoIniciado(CreateComponent<TADOCommand>()),
      services_(std::move(services)) {
  SetName("frmSync");

  timVerifTab.SetName("timVerifTab");
  timVerifTab.SetInterval(kTimerIntervalMs);
  timVerifTab.SetEnabled(true);
  timVerifTab.OnTimer = TNotifyEvent::Bind(*this, &TfrmSync::timVerifTabTimer);

  adcVerifTab.SetName("adcVerifTab");
  adcVerifTab.SetLoginPrompt(false);
  adcVerifTab.BeforeConnect =
      TConnectionNotifyEvent::Bind(*this, &TfrmSync::adcVerifTabBeforeConnect);

  adqVerifTab.SetName("adqVerifTab");
  adqVerifTab.SetConnection(&adcVerifTab);
  SetSql(adqVerifTab, kPendingRowsQuery);

  acmUpdVerifTab.SetName("acmUpdVerifTab");
  acmUpdVerifTab.SetConnection(&adcVerifTab);
  acmUpdVerifTab.SetCommandText(JoinStatementLines(kCancelUpdate));
  acmUpdVerifTab.SetCommandTimeout(0);
  DeclareIdParameter(acmUpdVerifTab.Parameters());

  acmCTRLEXECREM.SetName("acmCTRLEXECREM");
  acmCTRLEXECREM.SetConnection(&adcVerifTab);
  acmCTRLEXECREM.SetCommandText(JoinStatementLines(kCreateTable));
  acmCTRLEXECREM.SetCommandTimeout(0);

  adqControleTab.SetName("adqControleTab");
  adqControleTab.SetConnection(&adcVerifTab);
  SetSql(adqControleTab, kRowByIdQuery);
  DeclareIdParameter(adqControleTab.Parameters());

  acmNaoIniciado.SetName("acmNaoIniciado");
  acmNaoIniciado.SetConnection(&adcVerifTab);
  acmNaoIniciado.SetCommandText(JoinStatementLines(kNotStartedUpdate));
  acmNaoIniciado.SetCommandTimeout(0);
}

void TfrmSync::FormCreate() {
  adcVerifTab.Open();
  WorkerBusy = false;
  services_.startWatchdog();
  LastRestartTime = services_.clock->Now();
  LastRestartElapsedMs = services_.clock->Elapsed().count();
  ProbeControlTable();
}

void TfrmSync::ProbeControlTable() {
  try {
    adqVerifTab.Close();
    adqVerifTab.Open();
  } catch (...) {
    // Whatever made the probe fail, the table is created; its own error, if
    // any (the table exists after all), leaves here.
    acmCTRLEXECREM.Execute();
    adcVerifTab.Execute(state::kCreateStatusIndex);
  }
  probeNeeded_ = false;
  try {  // made with the table; one an earlier version made gains them here, once
    state::AddSqliteDayIndexes(adcVerifTab);
  } catch (...) {
    services_.report(texts::DayIndexesMissing(DescribeException(std::current_exception())));
  }
}

template <class Step>
void TfrmSync::Guarded(Step step) {
  try {
    step();
  } catch (const EDataError& error) {
    if (error.SqlState() == kConnectionLost) {
      adcVerifTab.Close();
      probeNeeded_ = true;
    }
    throw;
  }
}

void TfrmSync::adcVerifTabBeforeConnect(TADOConnection& connection) {
  connection.SetConnectionString(WithDefaultProvider(services_.connectionString(), kAgentProvider));
}

void TfrmSync::timVerifTabTimer(TComponent&) { ProcessPendingOperation(); }

void TfrmSync::ProcessPendingOperation() {
  timVerifTab.SetEnabled(false);
  // Polling resumes however the tick ends: a failed tick is reported by the
  // message loop, and the next one comes 2000 ms later.
  struct ResumePolling {
    TTimer& timer;
    std::function<void()>& polled;
    ~ResumePolling() {
      WorkerBusy = false;
      timer.SetEnabled(true);
      polled();
    }
  } resume{timVerifTab, services_.polled};

  if (!TakeDispatch()) return;
  // An agent ending frees the lock a moment before its process is gone: its runs are
  // looked for again now and then, so none stays unwatched.
  if (held_.empty() && (!lastAdopted_ || Elapsed() - *lastAdopted_ >= kAdoptAgainEvery)) AdoptOrphanedRuns();
  // No second worker while one runs: one this agent holds (an ended agent's, or
  // one whose supervision it gave up) is supervised first.
  if (!held_.empty()) return SuperviseHeld();
  const std::optional<TPendingRow> row = SelectPendingRow();
  if (!row) return;
  const std::optional<TWorkerPlan> plan = CheckPendingRow(*row);
  if (!plan) return;
  StartWorker(*row, *plan);
}

bool TfrmSync::TakeDispatch() {
  std::string error;
  const bool dispatching = services_.dispatch(error);
  if (!error.empty()) {
    if (auto line = lockErrors_.Pass(error, texts::CannotDispatch(error))) services_.report(*line);
  } else {
    lockErrors_.Reset();
  }
  if (dispatching_ == dispatching) return dispatching;
  dispatching_ = dispatching;
  services_.role(dispatching ? state::TAgentRole::kDispatching : state::TAgentRole::kStandby);
  services_.log(std::string(dispatching ? texts::kDispatching : texts::kStandingBy));
  if (dispatching) lastAdopted_.reset();  // the runs of ended agents first
  return dispatching;
}

void TfrmSync::AdoptOrphanedRuns() {
  lastAdopted_ = Elapsed();
  const std::vector<std::string> heldKeys = HeldKeys();
  for (const state::TRunRecord& record : services_.orphanedRuns()) {
    if (std::find(heldKeys.begin(), heldKeys.end(), record.key) != heldKeys.end()) continue;
    THeldRun held;
    held.worker = {std::to_string(record.request), record.key, record.workerPid, record.workerInstance};
    held.record = record;
    held.adopted = true;
    held.began = Elapsed();
    const TRunLook look = services_.workers->Look(held.worker, HeldKeys());
    if (look.workerRuns || !look.others.empty()) {
      held_.push_back(std::move(held));
    } else {
      EndRun(held, false);
    }
  }
}

std::vector<std::string> TfrmSync::HeldKeys() const {
  std::vector<std::string> keys;
  for (const THeldRun& held : held_) keys.push_back(held.worker.key);
  return keys;
}

std::optional<TfrmSync::TPendingRow> TfrmSync::SelectPendingRow() {
  Guarded([this] {
    if (probeNeeded_) ProbeControlTable();
    adqVerifTab.Close();
    adqVerifTab.Open();
  });
  // The first pending row that is not waiting to be started again. A database that
  // compares without case also returns rows whose status only looks pending ("p"):
  // they are passed over, so they cannot hold up the rows behind them; so are rows
  // whose last run left them "P", until their wait is over.
  // A row that has not run yet goes before one started again, so a row that keeps
  // failing never takes every turn.
  const std::chrono::milliseconds now = Elapsed();
  std::optional<TPendingRow> first, again;
  std::map<std::string, TRetry> stillPending;
  for (; !adqVerifTab.Eof() && !first; adqVerifTab.Next()) {
    if (adqVerifTab.FieldByName("IDSTCTRLEXECREM").AsString() != kStatusPending) continue;
    const std::string rowId = adqVerifTab.FieldByName("IDCTRLEXECREM").AsString();
    const auto retry = retries_.find(rowId);
    if (retry == retries_.end()) {
      first = TPendingRow{rowId, adqVerifTab.FieldByName("DSOPERACAO").AsString()};
      break;
    }
    stillPending.insert(*retry);
    if (!again && retry->second.notBefore <= now)
      again = TPendingRow{rowId, adqVerifTab.FieldByName("DSOPERACAO").AsString()};
  }
  // Rows no longer pending are forgotten, once every pending row was seen.
  if (adqVerifTab.Eof()) retries_.swap(stillPending);
  return first ? first : again;
}

std::optional<TfrmSync::TWorkerPlan> TfrmSync::CheckPendingRow(const TPendingRow& row) {
  std::string branch;
  std::string till;
  state::ExtractOperationValue(row.operation, "CDFILIAL", branch);
  state::ExtractOperationValue(row.operation, "CDCAIXA", till);
  TWorkerPlan plan;
  plan.params = "SYNC_" + row.id + "_" + branch + "_" + till + "_";
  plan.path = services_.agentDirectory + platform::kPathDelim + kWorkerExeName;

  // A row that can never be started would otherwise block every row behind it.
  if (!ParseNumber(row.id, plan.idNumber)) {
    MarkNotStarted(row.id, texts::IdOutOfRange(row.id));
    return std::nullopt;
  }
  if (const std::size_t limit = services_.maxParams(plan.path); plan.params.size() > limit) {
    MarkNotStarted(row.id, texts::ParametersTooLong(kWorkerExeName, plan.params.size(), limit));
    return std::nullopt;
  }
  return plan;
}

void TfrmSync::StartWorker(const TPendingRow& row, const TWorkerPlan& plan) {
  const std::string& id = row.id;
  THeldRun held;
  held.worker.request = id;
  held.worker.key = services_.instance + "/" + std::to_string(++runCount_);
  state::TRunRecord& run = held.record;
  run.started = services_.clock->NowUtc();
  const TWorkerStarted started = services_.workers->Start(
      {plan.path, plan.params, id, held.worker.key, services_.outputDirectory, services_.maxWorkerOutput(), run.started});
  if (!started.result.ok) {
    // It may pass (the file put back): reported through the tick, tried again.
    throw std::runtime_error(texts::WorkerCannotStart(id, plan.path, started.result.message));
  }
  held.worker.pid = started.pid;
  held.worker.instance = started.instance;
  held.began = Elapsed();
  if (!started.outputError.empty()) {
    if (auto line = outputErrors_.Pass(started.outputError, texts::NoOutputFile(id, started.outputError)))
      services_.report(*line);
  } else {
    outputErrors_.Reset();
  }
  if (!started.warning.empty()) services_.report(texts::WatchWarning(id, started.warning));

  run.key = held.worker.key;
  run.request = plan.idNumber;
  const platform::TSteadyStamp steady = services_.clock->Steady();
  if (!steady.boot.empty()) run.startSteady = steady.seconds;
  run.boot = steady.boot;
  run.output = started.output;
  run.agentPid = platform::CurrentProcessId();
  run.agentInstance = services_.instance;
  run.workerPid = started.pid;
  run.workerInstance = started.instance;
  services_.recordRun(run);
  // Published at once: an agent ended now leaves the run to the next one.
  services_.supervising(id, started.pid);
  services_.polled();

  // A row started again: its first re-runs are logged, then one line an hour.
  const auto retry = retries_.find(id);
  if (retry == retries_.end()) {
    runs_.Reset();
    held.logged = LogRunStart("run " + id, texts::WorkerStarted(id, plan.params));
  } else if (TRetry& r = retry->second; r.runs <= 3 || !r.lastLogged || Elapsed() - *r.lastLogged >= std::chrono::hours(1)) {
    services_.log(texts::StartedAgain(id, static_cast<int>(r.runs + 1), r.lastOutcome, r.unlogged));
    r.lastLogged = Elapsed();
    r.unlogged = 0;
  } else {
    ++r.unlogged;
    held.logged = false;
  }
  held_.push_back(std::move(held));
  services_.clock->Sleep(kStartWaitMs);
  SuperviseHeld();
}

void TfrmSync::SuperviseHeld() {
  THeldRun& held = held_.front();
  const std::string id = held.worker.request;  // a copy: the run goes before the last line is written
  if (held.adopted && !held.announced) {
    held.announced = true;
    held.logged = LogRunStart("left " + id, texts::LeftWorkerRunning(id));
  }
  services_.supervising(id, held.worker.pid);
  std::int32_t idNumber = 0;
  const bool known = ParseNumber(id, idNumber);
  TRepeatFilter failures;
  bool unmarked = false;  // stopped for a cancellation, the row not marked yet
  while (!services_.stopRequested() && (unmarked || StillRunning(held))) {
    WorkerBusy = true;
    services_.polled();  // each pass is a poll: readers see the supervision at once
    services_.clock->Sleep(kSupervisionWaitMs);
    if (!known || services_.stopRequested()) continue;
    try {
      Guarded([&] { CheckCancellation(held, idNumber, unmarked); });
      failures.Reset();
    } catch (...) {
      // The worker runs on: giving up here would let the next tick start the
      // same request again beside it.
      const std::string error = DescribeException(std::current_exception());
      if (auto line = failures.Pass(error, texts::RowUnreadableWhileRunning(id, error))) {
        services_.report(*line);
      }
    }
  }
  if (services_.stopRequested()) return;  // the worker, if any, runs on; the next agent takes it over
  if (held.stopRefused && known) {
    try {
      Guarded([&] { MarkCancelledAfterEnd(held, idNumber); });
    } catch (...) {
      services_.report(texts::RowUnreadableAfterRun(id, DescribeException(std::current_exception())));
    }
  }
  services_.supervising("", 0);
  THeldRun ended = std::move(held_.front());
  held_.pop_front();
  EndRun(ended, true);
}

bool TfrmSync::StillRunning(THeldRun& held) {
  const TRunLook look = services_.workers->Look(held.worker, HeldKeys());
  for (const TSeenProcess& stray : look.strays) {
    if (straysLogged_.insert({stray.pid, stray.start}).second) services_.log(texts::StrayIgnored(stray.pid, stray.commandLine));
  }
  if (look.exit) held.exit = look.exit;
  if (look.workerRuns) return true;
  if (look.others.empty()) return false;
  // The worker ended but processes of its run go on: while its row is still "P" they
  // may be doing its work; once it left "P" they are only left behind.
  std::int32_t idNumber = 0;
  if (ParseNumber(held.worker.request, idNumber)) {
    const std::optional<std::string> row = RowStatus(idNumber, true);
    if (!row || *row == kStatusPending) return true;
  }
  for (const TSeenProcess& other : look.others) {
    if (held.leftOver.insert(other.pid).second)
      services_.log(texts::LeftOver(held.worker.request, other.pid, other.commandLine));
  }
  return false;
}

std::string TfrmSync::ReadRowStatus(std::int32_t id) {
  std::string status;
  Guarded([&] {
    adqControleTab.Close();
    adqControleTab.Parameters().ParamByName(kIdParameter).SetValue(id);
    adqControleTab.Open();
    if (!adqControleTab.Eof()) {
      status = adqControleTab.FieldByName("IDSTCTRLEXECREM").AsString();
      return;
    }
    // Not today's any more (the run crossed the server's midnight), or gone.
    TADOQuery anyDay;
    anyDay.SetConnection(&adcVerifTab);
    SetSql(anyDay, state::kRowStatusAnyDayQuery);
    DeclareIdParameter(anyDay.Parameters());
    anyDay.Parameters().ParamByName(kIdParameter).SetValue(id);
    anyDay.Open();
    status = anyDay.Eof() ? std::string() : anyDay.FieldByName("IDSTCTRLEXECREM").AsString();
  });
  return status;
}

std::optional<std::string> TfrmSync::RowStatus(std::int32_t id, bool quiet) {
  try {
    return ReadRowStatus(id);
  } catch (...) {
    if (!quiet) {
      services_.report(texts::RowUnreadableAfterRun(std::to_string(id), DescribeException(std::current_exception())));
    }
    return std::nullopt;
  }
}

std::string TfrmSync::OutputTail(const std::string& file) {
  constexpr std::size_t kTailBytes = 4096, kTailLines = 5;
  const platform::TFileTail tail = platform::ReadFileTail(file, kTailBytes);
  if (!tail.ok) return {};
  std::vector<std::string> lines;
  std::string line;
  for (const char c : tail.text + "\n") {
    if (c == '\n') {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) lines.push_back(diagnostics::MaskPassword(line));
      line.clear();
    } else {
      line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;  // one log line, whatever it printed
    }
  }
  if (lines.size() > kTailLines) lines.erase(lines.begin(), lines.end() - kTailLines);
  std::string joined;
  for (const std::string& l : lines) joined += (joined.empty() ? "" : " | ") + l;
  return joined;
}

void TfrmSync::EndRun(THeldRun& held, bool watched) {
  const std::string id = held.worker.request;
  state::TRunRecord run = held.record;
  run.ended = services_.clock->NowUtc();
  const platform::TSteadyStamp steady = services_.clock->Steady();
  if (!run.boot.empty() && steady.boot == run.boot) run.endSteady = steady.seconds;
  run.end = held.exit ? (held.exit->signalled ? state::TRunEnd::kSignalled : state::TRunEnd::kExited)
                      : state::TRunEnd::kUnknown;
  run.code = held.exit ? held.exit->code : 0;
  const std::optional<std::string> row = RowStatus(static_cast<std::int32_t>(run.request));
  if (row) run.leftPending = *row != kStatusPending;
  if (held.cancelled) run.note = texts::kRunCancelled;
  if (!watched) run.note = state::kRunEndedUnwatched;
  services_.recordRun(run);

  const std::string outcome = state::DescribeRunEnd(run);
  std::string line;
  if (!watched) {
    line = texts::WorkerEndedUnwatched(id, run.agentPid);
  } else {
    // Measured on the steady clock; an adopted run's from its stamps.
    long long seconds = (Elapsed() - held.began).count() / 1000;
    if (held.adopted) seconds = run.startSteady && run.endSteady ? static_cast<long long>(*run.endSteady - *run.startSteady) : 0;
    line = texts::WorkerEnded(id, outcome, seconds);
  }
  const bool abnormal = run.end == state::TRunEnd::kSignalled || (run.end == state::TRunEnd::kExited && run.code != 0);
  if (abnormal && !run.output.empty()) line += texts::LastOutput(OutputTail(run.output), run.output);
  if (!row || *row != kStatusPending) {
    retries_.erase(id);
    if (held.logged) services_.log(line + (row ? texts::RowNow(*row) : std::string()));
    return;
  }
  // Counted from the store, so every agent's runs and those before a restart count.
  TRetry& retry = retries_[id];
  retry.runs = std::max(retry.runs + 1, services_.runsLeftPending(run.request).value_or(0));
  retry.lastOutcome = outcome;
  const std::chrono::milliseconds wait = RetryWait(retry.runs);
  retry.notBefore = Elapsed() + wait;
  if (const std::int32_t maxRuns = services_.maxWorkerRuns(); maxRuns > 0 && retry.runs >= maxRuns) {
    retries_.erase(id);
    if (held.logged) services_.log(line + texts::RowStillPending());
    return MarkNotStarted(id, texts::RanTooOften(maxRuns, outcome));
  }
  if (held.logged) services_.log(line + texts::StartedAgainIn(wait.count() / 1000));
}

void TfrmSync::CheckCancellation(THeldRun& held, std::int32_t id, bool& unmarked) {
  if (!unmarked) {
    if (ReadRowStatus(id) != kStatusCancelRequested) return;  // what fails is reported with its cause
    const std::vector<std::string> failures = services_.workers->Stop(held.worker);
    if (!failures.empty()) {
      // Not stopped: marking the row now would tell the operator a worker ended that
      // goes on working. The stop is tried again at every pass; the row is marked
      // once the worker is gone, unless the worker finished it first.
      std::string text;
      for (const std::string& failure : failures) text += (text.empty() ? "" : "; ") + failure;
      if (!std::exchange(held.stopRefused, true))
        services_.report(texts::StopIncomplete(held.worker.request, held.adopted ? held.record.agentUser : "", text));
      return;
    }
    unmarked = true;  // a failed update is tried again at the next pass
  }
  MarkCancelled(held, id, texts::CancelledByOperator(id));
  unmarked = false;
}

void TfrmSync::MarkCancelledAfterEnd(THeldRun& held, std::int32_t id) {
  // Not "C" any more: the worker finished it, and its end tells how.
  if (ReadRowStatus(id) == kStatusCancelRequested) MarkCancelled(held, id, texts::CancelledAfterWorkerEnded(id));
}

void TfrmSync::MarkCancelled(THeldRun& held, std::int32_t id, const std::string& line) {
  acmUpdVerifTab.Parameters().ParamByName(kIdParameter).SetValue(id);
  acmUpdVerifTab.Execute();
  held.cancelled = true;
  services_.log(line);
}

bool TfrmSync::LogRunStart(const std::string& key, const std::string& message) {
  const std::optional<std::string> line = runs_.Pass(key, message);
  if (line) services_.log(*line);
  return line.has_value();
}

void TfrmSync::MarkNotStarted(const std::string& id, const std::string& reason) {
  TParameter& idParameter = acmNaoIniciado.Parameters().ParamByName(kIdParameter);
  std::int64_t wide = 0;
  const bool numeric = ParseNumber(id, wide);
  idParameter.SetDataType(numeric ? ftLargeint : ftString);
  idParameter.SetValue(numeric ? Variant(wide) : Variant(id));
  acmNaoIniciado.Parameters().ParamByName("DSERRO").SetValue(reason);
  std::int64_t marked = 0;
  Guarded([&] { marked = acmNaoIniciado.Execute(); });
  // Only a row still pending is marked: one a worker or an operator finished
  // meanwhile keeps what they wrote.
  services_.report(marked != 0 ? texts::MarkedNotOk(id, reason) : texts::LeftPendingMeanwhile(id, reason));
}

void RunMessageLoop(TTimer& timer, platform::Clock& clock, const std::function<bool()>& stop,
                    const std::function<void(const std::string&)>& report) {
  TRepeatFilter errors;
  while (!stop()) {
    clock.Sleep(std::chrono::milliseconds(timer.Interval()));
    if (stop()) break;
    if (!timer.Enabled() || !timer.OnTimer) continue;
    try {
      timer.OnTimer(timer);
      errors.Reset();
    } catch (...) {
      const std::string message = DescribeException(std::current_exception());
      if (auto line = errors.Pass(message, message)) report(*line);
    }
  }
}

}  // namespace qar::agent
