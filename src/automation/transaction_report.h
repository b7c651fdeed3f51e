// tr_report.txt: a transaction that a server method left open, beside the module.
#pragma once

#include <string>
#include <string_view>

#include "automation/call_context.h"
#include "platform/clock.h"
#include "platform/datetime.h"

namespace qar::automation {

// The values of one report entry, ANSI text.
struct TransactionReportEntry {
  std::string dll;          // the module that holds the wrapped component's class
  std::string dataModule;   // the connection owner's name
  std::string method;       // ClientIdentity.Method
  std::string operatorName;
  std::string host;
  std::string application;
};

// "tr_report.txt" in the directory of the module that holds the automation layer.
std::string TransactionReportPath();

// One entry's bytes (Windows-1252, CR LF): the space line, the "=" rule, the title and
// the rule again when the file already exists (nothing before the first entry of a
// new file), then seven captioned lines; the operator, host and application lines
// are cut to 25, 28 and 23 characters. `dateTime` is the first line's value.
std::string ComposeTransactionReportEntry(const TransactionReportEntry& entry, bool fileExisted,
                                          std::string_view dateTime);

// Appends one entry to the report at `path`, dated `when` in the process's short date
// and long time formats. Throws diagnostics::EInOutError when the report cannot be
// created, opened or written.
void AppendTransactionReport(const std::string& path, const TransactionReportEntry& entry,
                             platform::TDateTime when);

// The entry for a call whose method returned with its connection in a transaction:
// the factory's component class module, the connection's owner and the caller as
// the call's monitor holds it (Method, Operator, Host, Application). Appended to
// TransactionReportPath() at `clock`'s time; failures throw as above.
TransactionReportEntry TransactionReportEntryOf(const CallContext& call);
void WriteTransactionReport(const CallContext& call, platform::Clock& clock);

}  // namespace qar::automation
