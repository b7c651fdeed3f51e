#include "agent/Cli_Sync10000.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <vector>

#include "agent/agent_state.h"
#include "agent/agent_texts.h"
#include "state/operation_value.h"
#include "agent/watchdog.h"
#include "config/GeralQar.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "diagnostics/monitor_settings.h"
#include "platform/module.h"
#include "platform/stop_request.h"
#include "state/agent_status.h"
#include "state/control_table.h"

namespace qar::agent {

using state::JoinStatementLines;
using state::kCancelUpdate;
using state::kCreateStatusIndex;
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

long long SecondsBetween(platform::TDateTime from, platform::TDateTime to) {
  return static_cast<long long>((to - from) * 86400.0 + 0.5);
}
}  // namespace

AgentServices AgentServices::Real() {
  AgentServices services;
  services.agentDirectory = platform::ExtractFileDir(platform::ExecutableFileName());
  services.workers = WatchWorkers(services.agentDirectory);
  // The last worker started, held so that its end can be known.
  auto worker = std::make_shared<platform::TProcessHandle>();
  services.startWorker = [worker, dir = services.agentDirectory](const TWorkerStart& start) {
    platform::TStartedChild child = platform::StartChild(
        start.path, start.params, {WorkerMarker(dir), WorkerRequestItem(start.request)}, start.output);
    *worker = std::move(child.process);
    return child.result;
  };
  services.workerEnd = [worker] { return worker->Reap(); };
  services.workerPid = [worker] { return worker->Pid(); };
  services.workerInstance = [worker] { return worker->Pid() ? platform::ProcessInstance(worker->Pid()) : std::string(); };
  if (platform::kChildOutputToFile) services.logDirectory = diagnostics::GetTmpFileDir();
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
    adcVerifTab.Execute(kCreateStatusIndex);
  }
  probeNeeded_ = false;
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

  // No second worker while one runs: one left by an earlier agent, or one whose
  // supervision this agent gave up, is supervised first.
  if (services_.workers.running()) {
    LogRunStart("left", texts::LeftWorkerRunning(lastRequest_));
    services_.supervising(lastRequest_.empty() ? std::string(state::kUnknownRequest) : lastRequest_);
    Supervise(lastRequest_, services_.clock->Now());
    return;
  }

  lastRequest_.clear();  // no worker left: nothing adopted any more
  const std::optional<TPendingRow> row = SelectPendingRow();
  if (!row) return;
  const std::optional<TWorkerPlan> plan = CheckPendingRow(*row);
  if (!plan) return;
  StartWorker(*row, *plan);
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
  const platform::TDateTime now = services_.clock->Now();
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
  const platform::TDateTime startedAt = services_.clock->Now();
  std::string output;
  if (!services_.logDirectory.empty()) {
    output = services_.logDirectory + "QarTab_" + id + "_" +
             platform::FormatDateTime("yyyymmddhhnnss", startedAt) + ".log";
  }
  const platform::ProcessResult started = services_.startWorker({plan.path, plan.params, id, output});
  if (!started.ok) {
    // It may pass (the file put back): reported through the tick, tried again.
    throw std::runtime_error(texts::WorkerCannotStart(id, plan.path, started.message));
  }
  lastRequest_ = id;
  services_.supervising(id);  // published at once: an agent ended now leaves it to the next

  state::TRunRecord run;
  run.key = services_.instance + "/" + std::to_string(++runCount_);
  run.request = plan.idNumber;
  const platform::TSteadyStamp steady = services_.clock->Steady();
  run.started = services_.clock->NowUtc();
  if (!steady.boot.empty()) run.startSteady = steady.seconds;
  run.boot = steady.boot;
  run.output = output;
  run.agentPid = platform::CurrentProcessId();
  run.agentInstance = services_.instance;
  run.workerPid = services_.workerPid();
  run.workerInstance = services_.workerInstance();
  services_.recordRun(run);
  run_ = run;
  cancelled_ = false;

  // A row started again: its first re-runs are logged, then one line an hour.
  const auto retry = retries_.find(id);
  if (retry == retries_.end()) {
    runs_.Reset();
    LogRunStart("run " + id, texts::WorkerStarted(id, plan.params));
  } else if (TRetry& r = retry->second; r.runs <= 3 || (startedAt - r.lastLogged) * 86400.0 >= 3600) {
    services_.log(texts::StartedAgain(id, r.runs + 1, r.lastOutcome, r.unlogged));
    r.lastLogged = startedAt;
    r.unlogged = 0;
    runLogged_ = true;
  } else {
    ++r.unlogged;
    runLogged_ = false;
  }
  services_.clock->Sleep(kStartWaitMs);
  Supervise(id, startedAt);
}

void TfrmSync::Supervise(const std::string& id, platform::TDateTime began) {
  std::int32_t idNumber = 0;
  const bool known = ParseNumber(id, idNumber);
  TRepeatFilter failures;
  bool unmarked = false;  // stopped for a cancellation, the row not marked yet
  while (!services_.stopRequested() && (unmarked || services_.workers.running())) {
    WorkerBusy = true;
    services_.polled();  // each pass is a poll: readers see the supervision at once
    services_.clock->Sleep(kSupervisionWaitMs);
    if (!known || services_.stopRequested()) continue;
    try {
      Guarded([&] { CheckCancellation(idNumber, unmarked); });
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
  if (services_.stopRequested()) return;  // the worker, if any, runs on
  services_.supervising("");
  lastRequest_.clear();
  if (run_ && std::to_string(run_->request) == id) {
    state::TRunRecord run = *std::exchange(run_, std::nullopt);
    return EndRun(id, std::move(run), cancelled_);
  }
  if (runLogged_) {
    services_.log(texts::WorkerGone(id, SecondsBetween(began, services_.clock->Now())));
  }
}

std::optional<std::string> TfrmSync::RowStatus(std::int32_t id) {
  try {
    Guarded([&] {
      adqControleTab.Close();
      adqControleTab.Parameters().ParamByName(kIdParameter).SetValue(id);
      adqControleTab.Open();
    });
    return adqControleTab.FieldByName("IDSTCTRLEXECREM").AsString();
  } catch (...) {
    services_.report(texts::RowUnreadableAfterRun(std::to_string(id), DescribeException(std::current_exception())));
    return std::nullopt;
  }
}

std::string TfrmSync::OutputTail(const std::string& file) {
  constexpr std::size_t kTailBytes = 2048, kTailLines = 3;
  std::ifstream in(platform::ToNativePath(file), std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::streamoff size = in.tellg();
  in.seekg(std::max<std::streamoff>(0, size - static_cast<std::streamoff>(kTailBytes)));
  std::string text((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::string> lines;
  std::string line;
  for (const char c : text + "\n") {
    if (c == '\n') {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) lines.push_back(line);
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

void TfrmSync::EndRun(const std::string& id, state::TRunRecord run, bool cancelled) {
  const platform::TDateTime now = services_.clock->Now();
  run.ended = services_.clock->NowUtc();
  if (const platform::TSteadyStamp steady = services_.clock->Steady(); !run.boot.empty() && steady.boot == run.boot)
    run.endSteady = steady.seconds;
  if (const std::optional<platform::TExitStatus> status = services_.workerEnd()) {
    run.end = status->signalled ? state::TRunEnd::kSignalled : state::TRunEnd::kExited;
    run.code = status->code;
  } else {
    run.end = state::TRunEnd::kUnknown;
  }
  const std::optional<std::string> row = RowStatus(static_cast<std::int32_t>(run.request));
  if (row) run.leftPending = *row != kStatusPending;
  if (cancelled) run.note = texts::kRunCancelled;
  services_.recordRun(run);

  const std::string outcome = state::DescribeRunEnd(run);
  const bool abnormal = run.end == state::TRunEnd::kSignalled || (run.end == state::TRunEnd::kExited && run.code != 0);
  std::string line = texts::WorkerEnded(id, outcome, SecondsBetween(run.started, run.ended));
  if (abnormal && !run.output.empty()) {
    line += texts::LastOutput(OutputTail(run.output), run.output);
  }
  if (!row || *row != kStatusPending) {
    retries_.erase(id);
    if (runLogged_) services_.log(line + (row ? texts::RowNow(*row) : std::string()));
    return;
  }
  TRetry& retry = retries_[id];
  ++retry.runs;
  retry.lastOutcome = outcome;
  const std::chrono::milliseconds wait = RetryWait(retry.runs);
  retry.notBefore = now + platform::MillisecondsToDays(wait.count());
  if (services_.maxWorkerRuns > 0 && retry.runs >= services_.maxWorkerRuns) {
    retries_.erase(id);
    if (runLogged_) services_.log(line + texts::RowStillPending());
    return MarkNotStarted(id, texts::RanTooOften(services_.maxWorkerRuns, outcome));
  }
  if (runLogged_) {
    services_.log(line + texts::StartedAgainIn(wait.count() / 1000));
  }
}

void TfrmSync::CheckCancellation(std::int32_t id, bool& unmarked) {
  if (!unmarked) {
    adqControleTab.Close();
    adqControleTab.Parameters().ParamByName(kIdParameter).SetValue(id);
    adqControleTab.Open();
    if (adqControleTab.FieldByName("IDSTCTRLEXECREM").AsString() != kStatusCancelRequested) return;
    services_.workers.kill();
    unmarked = true;  // a failed update is tried again at the next pass
  }
  acmUpdVerifTab.Parameters().ParamByName(kIdParameter).SetValue(id);
  acmUpdVerifTab.Execute();
  unmarked = false;
  cancelled_ = true;
  services_.log(texts::CancelledByOperator(id));
}

void TfrmSync::LogRunStart(const std::string& key, const std::string& message) {
  const std::optional<std::string> line = runs_.Pass(key, message);
  runLogged_ = line.has_value();
  if (line) services_.log(*line);
}

void TfrmSync::MarkNotStarted(const std::string& id, const std::string& reason) {
  TParameter& idParameter = acmNaoIniciado.Parameters().ParamByName(kIdParameter);
  std::int64_t wide = 0;
  const bool numeric = ParseNumber(id, wide);
  idParameter.SetDataType(numeric ? ftLargeint : ftString);
  idParameter.SetValue(numeric ? Variant(wide) : Variant(id));
  acmNaoIniciado.Parameters().ParamByName("DSERRO").SetValue(reason);
  Guarded([this] { acmNaoIniciado.Execute(); });
  services_.report(texts::MarkedNotOk(id, reason));
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
