// Connection log entries in the monitor and error logs.
#include "diagnostics/connection_log.h"

#include "diagnostics/log_captions.h"
#include "diagnostics/log_entry_text.h"
#include "diagnostics/log_file.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/mask_password.h"
#include "diagnostics/monitor_settings.h"
#include "platform/datetime.h"

namespace qar::diagnostics {

std::string ComposeConnectionLogEntry(const ConnectionLogEvent& event, bool monitored,
                                      std::string_view time) {
  TLogEntryText entry;
  if (monitored) {
    entry.Line(captions::kEqualsRule);
    entry.Line(captions::kConnectionBanner, time);
    entry.Line();
  } else {
    entry.Line(captions::kShortRule);
    entry.Line(time);
    entry.Line(captions::kShortRule);
  }
  entry.Item(captions::kConnectionString, MaskPassword(event.connectionString));
  entry.Item(captions::kDataModule, event.ownerName);
  if (!monitored) entry.Item(captions::kSql, captions::kConnectionStatement);
  if (event.designTimeConnected || event.viaSocketServer) {
    entry.Line(captions::kObservations);
    if (event.designTimeConnected) entry.Line(captions::kDesignTimeConnected);
    if (event.viaSocketServer) entry.Line(captions::kViaSocketServer);
    entry.Line();
  }
  if (event.status == kEventStatusErrorsOccurred && event.errorDescription) {
    entry.Item(captions::kError, *event.errorDescription);
  }
  return entry.Text();
}

void WriteConnectionLogEntry(const ConnectionLogEvent& event, platform::Clock& clock) noexcept {
  try {
    const bool failed = event.status == kEventStatusErrorsOccurred;
    // Asked once, so the file and the layout always agree.
    const bool monitored = IsMonitoredUser(event.operatorName);
    if (!monitored && !failed) return;
    // One reading of the clock gives both the file's date and the entry's time.
    const platform::TDateTime now = clock.Now();
    const std::string path =
        EntryLogFileName(monitored, event.operatorName, event.application, event.host, now);
    const std::string time = EntryTime(now);
    AppendToLogFile(path, ComposeConnectionLogEntry(event, monitored, time));
  } catch (...) {
    // The diagnostics never disturb the work they observe: a lost entry is all.
  }
}

void WriteConnectionLogEntry(const ConnectionLogEvent& event) noexcept {
  WriteConnectionLogEntry(event, platform::SystemClock());
}

void WriteConnectionLogEntry(const TADOConnection& connection, bool designTimeConnected,
                             bool viaSocketServer, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             const TADOError* error, TEventStatus status,
                             platform::Clock& clock) noexcept {
  // Most calls are of operators nobody monitors: they pay for no copy of the entry.
  try {
    if (status != kEventStatusErrorsOccurred && !IsMonitoredUser(operatorName)) return;
  } catch (...) {
    return;
  }
  ConnectionLogEvent event;
  try {
    event.connectionString = connection.ConnectionString();
    event.ownerName = connection.OwnerName();
    event.designTimeConnected = designTimeConnected;
    event.viaSocketServer = viaSocketServer;
    event.operatorName = operatorName;
    event.application = application;
    event.host = host;
    if (error != nullptr) event.errorDescription = error->Description;
    event.status = status;
  } catch (...) {
    return;  // no memory for the entry: it is lost, the connect goes on
  }
  WriteConnectionLogEntry(event, clock);
}

}  // namespace qar::diagnostics
