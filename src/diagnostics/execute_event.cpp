// The SQL execution monitor: before- and after-execution entries, error entries, chaining.
#include "diagnostics/execute_event.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/ado_stored_proc.h"
#include "diagnostics/connection_log.h"
#include "diagnostics/log_captions.h"
#include "diagnostics/log_entry_text.h"
#include "diagnostics/log_file.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/monitor_settings.h"
#include "diagnostics/replace_named_params.h"
#include "platform/datetime.h"
#include "platform/text.h"

namespace qar::diagnostics {

namespace {

// A statement text as logged and compared: up to its first NUL.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

bool HasMarker(std::string_view text) { return text.find('?') != std::string_view::npos; }

// Empty for a value outside the five directions.
std::string_view DirectionText(int direction) {
  switch (direction) {
    case pdUnknown: return captions::kDirectionUnknown;
    case pdInput: return captions::kDirectionInput;
    case pdOutput: return captions::kDirectionOutput;
    case pdInputOutput: return captions::kDirectionInputOutput;
    case pdReturnValue: return captions::kDirectionReturn;
    default: return {};
  }
}

// Lines 4 to 15 of the before-execution and error entries: client host, application,
// the operator (when not blank), the data module with the called method.
void AddCaller(TLogEntryText& entry, const ClientIdentity& identity, const TADOConnection& connection) {
  entry.Item(captions::kClientHost, identity.Host);
  entry.Item(captions::kApplication, identity.Application);
  const std::string_view op = identity.Operator;
  if (std::any_of(op.begin(), op.end(), [](char c) { return static_cast<unsigned char>(c) > ' '; })) {
    entry.Item(captions::kOperator, identity.Operator);
  }
  entry.Line(captions::kDataModule);
  entry.Line(captions::kIndent, connection.OwnerName(), " (", identity.Method, ")");
  entry.Line();
}

// "Parametros: ", a line per item, an empty line. A value without a text form raises
// before its line is added, so the entry ends with the lines before it.
void AddParameters(TLogEntryText& entry, const TParameters& parameters, bool withDirection,
                   bool nullAsText) {
  entry.Line(captions::kParameters);
  for (int i = 0; i < parameters.Count(); ++i) {
    const TParameter& parameter = parameters.Items(i);
    const std::string value = nullAsText && parameter.Value().IsNull()
                                  ? std::string(captions::kNullValue)
                                  : VarToStr(parameter.Value());
    entry.Line(captions::kIndent, captions::kParameterNumber, std::to_string(i),
               withDirection ? DirectionText(parameter.Direction()) : std::string_view(),
               captions::kParameterName, parameter.Name(), captions::kParameterValue, value);
  }
  entry.Line();
}

void AddError(TLogEntryText& entry, const TADOError* error) {
  entry.Item(captions::kError, error != nullptr ? std::string_view(error->Description)
                                                : captions::kNoErrorObject);
}

}  // namespace

TExecuteEvent::TExecuteEvent(TADOConnection& connection, platform::Clock& clock)
    : connection_(connection), clock_(clock) {
  // The slots' handlers move here and back: nothing is copied on every call.
  savedConnectComplete_ = std::exchange(connection.OnConnectComplete,
                                        TConnectCompleteEvent::Bind(*this, &TExecuteEvent::HandleConnectComplete));
  savedWillExecute_ =
      std::exchange(connection.OnWillExecute, TWillExecuteEvent::Bind(*this, &TExecuteEvent::HandleWillExecute));
  savedExecuteComplete_ = std::exchange(connection.OnExecuteComplete,
                                        TExecuteCompleteEvent::Bind(*this, &TExecuteEvent::HandleExecuteComplete));
}

TExecuteEvent::~TExecuteEvent() {
  connection_.OnConnectComplete = std::move(savedConnectComplete_);
  connection_.OnWillExecute = std::move(savedWillExecute_);
  connection_.OnExecuteComplete = std::move(savedExecuteComplete_);
}

const std::string& TExecuteEvent::LogPath(bool monitored, platform::TDateTime now) {
  std::string directory = GetTmpFileDir();
  const std::int32_t level = monitored ? SqlMonitorLevel() : 1;
  const double day = std::trunc(now);
  if (!lastPath_ || lastPath_->monitored != monitored || lastPath_->level != level ||
      lastPath_->day != day || lastPath_->directory != directory || !(lastPath_->identity == identity_)) {
    lastPath_.reset();  // a failure below leaves no half-made name behind
    std::string path = EntryLogFileName(monitored, identity_.Operator, identity_.Application,
                                        identity_.Host, now);
    lastPath_ = TLogPath{monitored, level, day, std::move(directory), identity_, std::move(path)};
  }
  return lastPath_->path;
}

template <class Compose>
void TExecuteEvent::AppendEntry(bool monitored, Compose&& compose) noexcept {
  try {
    // One reading of the clock gives both the file's date and the entry's time.
    const platform::TDateTime now = clock_.Now();
    const std::string& path = LogPath(monitored, now);
    TLogEntryText entry;
    try {
      compose(entry, EntryTime(now));
    } catch (...) {
      // The entry ends at the line reached; those lines are still written.
    }
    AppendToLogFile(path, entry.Text());
  } catch (...) {
    // The monitor never disturbs the statement it watches: the entry is lost.
  }
}

void TExecuteEvent::HandleConnectComplete(TADOConnection& connection, const TADOError* error,
                                          TEventStatus& status) {
  WriteConnectionLogEntry(connection, /*designTimeConnected=*/false, /*viaSocketServer=*/false,
                          identity_.Operator, identity_.Application, identity_.Host, error,
                          status, clock_);
  if (savedConnectComplete_) savedConnectComplete_(connection, error, status);
}

void TExecuteEvent::HandleWillExecute(TADOConnection& connection, std::string& commandText,
                                      TCursorType& cursorType, TADOLockType& lockType,
                                      TCommandType& commandType, TExecuteOptions& executeOptions,
                                      TEventStatus& status, TADOCommandObject* command,
                                      TCustomADODataSet* recordset) {
  if (IsMonitoredUser(identity_.Operator)) {
    AppendEntry(true, [&](TLogEntryText& entry, std::string_view time) {
      const bool procedure = commandType == cmdStoredProc;
      const std::string_view text = UpToNul(commandText);
      entry.Line(captions::kDashRule);
      entry.Line(captions::kExecutionStart, time);
      entry.Line();
      AddCaller(entry, identity_, connection);
      entry.Item(procedure ? captions::kProcedure : captions::kSql, text);
      if (procedure || HasMarker(text)) {
        const TParameters* parameters =
            command != nullptr ? &command->Parameters() : FindParametersForText(connection, text);
        if (parameters != nullptr && parameters->Count() > 0) {
          AddParameters(entry, *parameters, /*withDirection=*/procedure, /*nullAsText=*/true);
        }
      }
    });
  }
  if (savedWillExecute_) {
    savedWillExecute_(connection, commandText, cursorType, lockType, commandType, executeOptions,
                      status, command, recordset);
  }
}

void TExecuteEvent::HandleExecuteComplete(TADOConnection& connection,
                                          std::int64_t recordsAffected, const TADOError* error,
                                          TEventStatus& status, TADOCommandObject* command,
                                          TCustomADODataSet* recordset) {
  const bool monitored = IsMonitoredUser(identity_.Operator);
  const bool failed = status == esErrorsOccured;
  if (monitored) {
    AppendEntry(true, [&](TLogEntryText& entry, std::string_view time) {
      if (failed) AddError(entry, error);
      entry.Line(captions::kExecutionEnd, time);
      entry.Line();
    });
  } else if (failed) {
    AppendEntry(false, [&](TLogEntryText& entry, std::string_view time) {
      entry.Line(captions::kShortRule);
      entry.Line(time);
      entry.Line(captions::kShortRule);
      AddCaller(entry, identity_, connection);
      const std::string_view text = command != nullptr     ? UpToNul(command->CommandText())
                                    : recordset != nullptr ? UpToNul(recordset->Source())
                                                           : std::string_view();
      entry.Item(captions::kSql, text);
      if (command != nullptr) {
        const bool procedure = command->CommandType() == adCmdStoredProc;
        if ((procedure || HasMarker(text)) && command->Parameters().Count() > 0) {
          AddParameters(entry, command->Parameters(), /*withDirection=*/procedure,
                        /*nullAsText=*/false);
        }
      }
      AddError(entry, error);
    });
  }
  if (savedExecuteComplete_) {
    savedExecuteComplete_(connection, recordsAffected, error, status, command, recordset);
  }
}

TParameters* TExecuteEvent::FindParametersForText(const TADOConnection& connection,
                                                  std::string_view commandText) {
  const std::string_view text = UpToNul(commandText);
  for (int i = 0; i < connection.GetCommandCount(); ++i) {
    TADOCommand& command = connection.GetCommand(i);
    if (platform::AnsiSameText(UpToNul(command.CommandObject().CommandText()), text)) {
      return &command.Parameters();
    }
  }
  for (int i = 0; i < connection.DataSetCount(); ++i) {
    TCustomADODataSet& dataSet = connection.GetADODataSet(i);
    if (const auto* query = dynamic_cast<const TADOQuery*>(&dataSet)) {
      // The collection as it stands: TADOQuery::Parameters() would bring it in line
      // with the SQL first, and the monitor changes nothing.
      if (platform::AnsiSameText(UpToNul(ReplaceNamedParams(query->SQL().Text())), text)) {
        return &dataSet.Parameters();
      }
    } else if (const auto* procedure = dynamic_cast<const TADOStoredProc*>(&dataSet)) {
      if (platform::AnsiSameText(UpToNul(procedure->CommandText()), text)) {
        return &dataSet.Parameters();
      }
    }
  }
  return nullptr;
}

}  // namespace qar::diagnostics
