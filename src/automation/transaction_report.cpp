#include "automation/transaction_report.h"

#include "automation/automation_texts.h"
#include "com/factory.h"
#include "diagnostics/bug_report.h"
#include "diagnostics/log_captions.h"
#include "diagnostics/log_entry_text.h"
#include "diagnostics/log_file.h"
#include "platform/module.h"

namespace qar::automation {

namespace {

constexpr std::size_t kRuleWidth = 77;
constexpr std::size_t kMaxOperatorLine = 25;
constexpr std::size_t kMaxHostLine = 28;
constexpr std::size_t kMaxApplicationLine = 23;

// Lies in the module that holds the automation layer, whichever module that is.
const char kModuleAnchor = 0;

std::string Cut(std::string_view caption, std::string_view value, std::size_t width) {
  return (std::string(caption) + std::string(value)).substr(0, width);
}

}  // namespace

std::string TransactionReportPath() {
  return platform::ExtractFilePath(diagnostics::ModuleFileName(&kModuleAnchor)) + "tr_report.txt";
}

std::string ComposeTransactionReportEntry(const TransactionReportEntry& entry, bool fileExisted,
                                          std::string_view dateTime) {
  namespace captions = diagnostics::captions;
  diagnostics::TLogEntryText text;
  if (fileExisted) {
    text.Line(" ");
    text.Line(std::string(kRuleWidth, '='));
    text.Line(texts::kPendingTransactionTitle);
    text.Line(std::string(kRuleWidth, '='));
  }
  text.Line(captions::kReportDateTime, dateTime);
  text.Line(captions::kReportDll, entry.dll);
  text.Line(captions::kReportDatamodule, entry.dataModule);
  text.Line(texts::kReportMethod, entry.method);
  text.Line(Cut(texts::kReportOperator, entry.operatorName, kMaxOperatorLine));
  text.Line(Cut(texts::kReportHost, entry.host, kMaxHostLine));
  text.Line(Cut(texts::kReportApplication, entry.application, kMaxApplicationLine));
  return text.Text();
}

void AppendTransactionReport(const std::string& path, const TransactionReportEntry& entry,
                             platform::TDateTime when) {
  diagnostics::TLogFile file(path);
  file.Write(ComposeTransactionReportEntry(entry, file.Existed(), platform::DateTimeToStr(when)));
}

TransactionReportEntry TransactionReportEntryOf(const CallContext& call) {
  TransactionReportEntry entry;
  const com::TComObjectFactory* factory = call.AutoObject != nullptr ? call.AutoObject->Factory() : nullptr;
  const com::TComponentClass* componentClass = factory != nullptr ? factory->ComponentClass() : nullptr;
  if (componentClass != nullptr && componentClass->ModuleAnchor != nullptr)
    entry.dll = diagnostics::ModuleFileName(componentClass->ModuleAnchor);
  else if (factory != nullptr)
    entry.dll = factory->ModuleFileName();
  if (call.Connection != nullptr && call.Connection->Owner() != nullptr)
    entry.dataModule = call.Connection->Owner()->Name();
  if (call.Monitor) {
    const diagnostics::ClientIdentity& identity = call.Monitor->Identity();
    entry.method = identity.Method.Str();
    entry.operatorName = identity.Operator.Str();
    entry.host = identity.Host.Str();
    entry.application = identity.Application.Str();
  }
  return entry;
}

void WriteTransactionReport(const CallContext& call, platform::Clock& clock) {
  AppendTransactionReport(TransactionReportPath(), TransactionReportEntryOf(call), clock.Now());
}

}  // namespace qar::automation
