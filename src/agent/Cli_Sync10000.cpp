#include "agent/Cli_Sync10000.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <limits>

#include "agent/agent_state.h"
#include "agent/operation_value.h"
#include "agent/watchdog.h"
#include "config/agent_status.h"
#include "config/GeralQar.h"
#include "data/connection_string.h"
#include "data/control_table.h"
#include "data/data_error.h"
#include "platform/module.h"
#include "platform/stop_request.h"

namespace qar::agent {

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
// Texts for the requester, in Windows-1252.
constexpr const char* kNotStarted = "N\xE3o iniciado: ";

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
  services.startWorker = [](const std::string& path, const std::string& params) {
    return platform::StartDetached(path, params);
  };
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
    ~ResumePolling() {
      WorkerBusy = false;
      timer.SetEnabled(true);
    }
  } resume{timVerifTab};

  // No second worker while one runs: one left by an earlier agent, or one whose
  // supervision this agent gave up, is supervised first.
  if (services_.workers.running()) {
    LogRunStart("left", "a worker started earlier is running" +
                            (lastRequest_.empty() ? std::string() : " (request " + lastRequest_ + ")") +
                            ": supervising it before any request");
    services_.supervising(lastRequest_.empty() ? std::string(config::kUnknownRequest) : lastRequest_);
    Supervise(lastRequest_, services_.clock->Now());
    return;
  }

  lastRequest_.clear();  // no worker left: nothing adopted any more
  Guarded([this] {
    if (probeNeeded_) ProbeControlTable();
    adqVerifTab.Close();
    adqVerifTab.Open();
  });
  // A database that compares without case also returns rows whose status only looks
  // pending ("p"): they are passed over, so they cannot hold up the rows behind them.
  while (!adqVerifTab.Eof() && adqVerifTab.FieldByName("IDSTCTRLEXECREM").AsString() != kStatusPending)
    adqVerifTab.Next();
  if (adqVerifTab.Eof()) return;

  const std::string id = adqVerifTab.FieldByName("IDCTRLEXECREM").AsString();
  std::string branch;
  std::string till;
  ExtractOperationValue(adqVerifTab.FieldByName("DSOPERACAO").AsString(), "CDFILIAL", branch);
  ExtractOperationValue(adqVerifTab.FieldByName("DSOPERACAO").AsString(), "CDCAIXA", till);
  const std::string params = "SYNC_" + id + "_" + branch + "_" + till + "_";
  const std::string workerPath = services_.agentDirectory + platform::kPathDelim + kWorkerExeName;

  // A row that can never be started would otherwise block every row behind it.
  std::int32_t idNumber = 0;
  if (!ParseNumber(id, idNumber)) {
    return MarkNotStarted(id, std::string(kNotStarted) + "o id " + id +
                                  " excede o par\xE2metro inteiro IDCTRLEXECREM (-2147483648 a 2147483647)");
  }
  if (const std::size_t limit = services_.maxParams(workerPath); params.size() > limit) {
    return MarkNotStarted(id, std::string(kNotStarted) + "os par\xE2metros do " + kWorkerExeName + " t\xEAm " +
                                  std::to_string(params.size()) + " caracteres, acima do limite de " +
                                  std::to_string(limit) + " do sistema");
  }

  const platform::TDateTime startedAt = services_.clock->Now();
  const platform::ProcessResult started = services_.startWorker(workerPath, params);
  if (!started.ok) {
    // It may pass (the file put back): reported through the tick, tried again.
    throw std::runtime_error("request " + id + ": " + workerPath + " cannot be started: " + started.message +
                             "; tried again at the next tick");
  }
  lastRequest_ = id;
  services_.supervising(id);  // published at once: an agent ended now leaves it to the next
  LogRunStart("run " + id, "request " + id + ": worker started with " + params);
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
    services_.clock->Sleep(kSupervisionWaitMs);
    if (!known || services_.stopRequested()) continue;
    try {
      Guarded([&] { CheckCancellation(idNumber, unmarked); });
      failures.Reset();
    } catch (...) {
      // The worker runs on: giving up here would let the next tick start the
      // same request again beside it.
      const std::string error = DescribeException(std::current_exception());
      if (auto line = failures.Pass(error, "request " + id + ": the row cannot be read while its worker runs: " +
                                               error + "; checked again in 10 s")) {
        services_.report(*line);
      }
    }
  }
  if (services_.stopRequested()) return;  // the worker, if any, runs on
  services_.supervising("");
  if (runLogged_) {
    services_.log("request " + id + ": worker ended, gone " +
                  std::to_string(SecondsBetween(began, services_.clock->Now())) + " s after the start (checked every 10 s)");
  }
  lastRequest_.clear();
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
  services_.log("request " + std::to_string(id) + ": cancelled by the operator, worker stopped, row marked " +
                kStatusNotOk);
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
  services_.report("request " + id + " can never be started and is marked " + kStatusNotOk + ": " + reason);
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
