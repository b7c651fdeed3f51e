#include "agent/Cli_Sync10000.h"

#include <chrono>

#include "agent/AgentState.h"
#include "agent/ErrorReport.h"
#include "agent/OperationValue.h"
#include "agent/ProcessUtils.h"
#include "agent/Watchdog.h"
#include "config/GeralQar.h"
#include "data/control_table.h"
#include "platform/module.h"
#include "platform/process.h"

namespace qar::agent {

namespace {
constexpr unsigned kTimerIntervalMs = 2000;
constexpr std::chrono::milliseconds kStartWaitMs{1000};
constexpr std::chrono::milliseconds kSupervisionWaitMs{10000};

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
}  // namespace

AgentServices AgentServices::Real() {
  AgentServices services;
  services.isProcessRunning = IsProcessRunning;
  services.killProcessByName = KillProcessByName;
  services.startWorker = [](const std::string& path, const std::string& params) {
    platform::StartDetached(path, params);
  };
  services.startWatchdog = [] { StartWatchdog(); };
  services.connectionString = [] { return config::GetConnectionString(""); };
  services.agentDirectory = platform::ExtractFileDir(platform::ExecutableFileName());
  return services;
}

TfrmSync::TfrmSync(AgentServices services)
    : timVerifTab(CreateComponent<TTimer>()),
      adcVerifTab(CreateComponent<TADOConnection>()),
      adqVerifTab(CreateComponent<TADOQuery>()),
      acmUpdVerifTab(CreateComponent<TADOCommand>()),
      acmCTRLEXECREM(CreateComponent<TADOCommand>()),
      adqControleTab(CreateComponent<TADOQuery>()),
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
}

void TfrmSync::FormCreate() {
  adcVerifTab.Open();
  WorkerBusy = false;
  services_.startWatchdog();
  LastRestartTime = services_.clock->Now();
  try {
    adqVerifTab.Close();
    adqVerifTab.Open();
  } catch (...) {
    // Whatever made the probe fail, the table is created; its own error, if
    // any (the table exists after all), leaves here.
    acmCTRLEXECREM.Execute();
    adcVerifTab.Execute(kCreateStatusIndex);
  }
}

void TfrmSync::adcVerifTabBeforeConnect(TADOConnection& connection) {
  connection.SetConnectionString(services_.connectionString());
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

  adqVerifTab.Close();
  adqVerifTab.Open();
  if (adqVerifTab.FieldByName("IDSTCTRLEXECREM").AsString() != kStatusPending) return;

  const std::string id = adqVerifTab.FieldByName("IDCTRLEXECREM").AsString();
  std::string branch;
  std::string till;
  ExtractOperationValue(adqVerifTab.FieldByName("DSOPERACAO").AsString(), "CDFILIAL", branch);
  ExtractOperationValue(adqVerifTab.FieldByName("DSOPERACAO").AsString(), "CDCAIXA", till);
  const std::string params = "SYNC_" + id + "_" + branch + "_" + till + "_";
  const std::string workerPath = services_.agentDirectory + platform::kPathDelim + kWorkerExeName;

  services_.startWorker(workerPath, params);
  services_.clock->Sleep(kStartWaitMs);

  while (services_.isProcessRunning(kWorkerWatchName)) {
    WorkerBusy = true;
    services_.clock->Sleep(kSupervisionWaitMs);
    adqControleTab.Close();
    adqControleTab.Parameters().ParamByName(kIdParameter).SetValue(Variant(id).AsInteger());
    adqControleTab.Open();
    if (adqControleTab.FieldByName("IDSTCTRLEXECREM").AsString() == kStatusCancelRequested) {
      services_.killProcessByName(kWorkerWatchName);
      acmUpdVerifTab.Parameters().ParamByName(kIdParameter).SetValue(Variant(id).AsInteger());
      acmUpdVerifTab.Execute();
    }
  }
}

void RunMessageLoop(TTimer& timer, platform::Clock& clock, const std::atomic<bool>* stop,
                    const std::function<void(const std::string&)>& report) {
  std::string lastError;
  int repeats = 0;
  while (stop == nullptr || !stop->load()) {
    clock.Sleep(std::chrono::milliseconds(timer.Interval()));
    if (!timer.Enabled() || !timer.OnTimer) continue;
    try {
      timer.OnTimer(timer);
      lastError.clear();
    } catch (...) {
      const std::string message = DescribeException(std::current_exception());
      if (message != lastError) {
        lastError = message;
        repeats = 0;
        report(message);
      } else if (++repeats % kRepeatedErrorReportEvery == 0) {
        report(message + " (repeated " + std::to_string(repeats) + " times)");
      }
    }
  }
}

}  // namespace qar::agent
