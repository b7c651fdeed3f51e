// TExecuteEvent: the SQL execution monitor that logs every connect and statement of one connection.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/ado_connection.h"
#include "data/ado_types.h"
#include "data/parameters.h"
#include "diagnostics/client_identity.h"
#include "platform/clock.h"

namespace qar::diagnostics {

// Watches one connection for as long as it lives (one automation call). Creating it
// saves the connection's connect-complete, will-execute and execute-complete handlers
// and installs its own; destroying it writes the saved ones back, whatever the slots
// hold by then. Fill Identity right after construction; the monitor only reads it.
//
//   auto monitor = std::make_unique<TExecuteEvent>(connection);
//   monitor->Identity() = identity;   // Operator, Host, Application, Method
//   ... the call's statements run on `connection` ...
//   monitor.reset();                  // the connection's own handlers are back
//
// What it writes (settings from MonitorSettings, consulted at every notification):
// - a connect: the connection log entry (WriteConnectionLogEntry);
// - before a statement of a monitored operator: the start time, the caller, the data
//   module and method, the statement ("PROCEDURE: " for a stored procedure) and, for a
//   procedure or a text with "?" markers, its parameters, in the monitor log;
// - after a statement: for a monitored operator the error, if any, and the end time in
//   the monitor log; for any other operator only a failed statement, as an error entry
//   in the day's error log.
// Each entry is composed in memory and appended in one write through the per-path
// serialised log writer; no file stays open between notifications.
//
// Then every notification goes on to the saved handler, if any, with the arguments
// exactly as received. The monitor never changes a statement, a parameter or a
// status, and nothing that fails inside it reaches the statement: such an entry ends
// at the line reached (a parameter value without a text form, an unwritable log) and
// what was composed is still appended. A failure raised by the saved handler reaches
// the statement's caller unchanged.
//
// Where the entries could leave the reader guessing:
// - an error entry for a notification without a command object (a query or stored
//   procedure opened as a data set) shows under "SQL: " the statement the data set
//   ran (its Source); it has no parameter block;
// - a failure notified without an error object shows, under "Erro: ", a line saying
//   so (captions::kNoErrorObject) rather than an empty one.
//
// The connection must outlive the monitor. The monitor takes no lock: create it, run
// the statements and destroy it on one thread; other threads use monitors of their own.
class TExecuteEvent {
 public:
  explicit TExecuteEvent(TADOConnection& connection,
                         platform::Clock& clock = platform::SystemClock());
  ~TExecuteEvent();
  TExecuteEvent(const TExecuteEvent&) = delete;
  TExecuteEvent& operator=(const TExecuteEvent&) = delete;

  ClientIdentity& Identity() { return identity_; }
  const ClientIdentity& Identity() const { return identity_; }
  TADOConnection& Connection() const { return connection_; }

  // The handlers the monitor installs on the connection's notification slots.
  void HandleConnectComplete(TADOConnection& connection, const TADOError* error,
                             TEventStatus& status);
  void HandleWillExecute(TADOConnection& connection, std::string& commandText,
                         TCursorType& cursorType, TADOLockType& lockType,
                         TCommandType& commandType, TExecuteOptions& executeOptions,
                         TEventStatus& status, TADOCommandObject* command,
                         TCustomADODataSet* recordset);
  void HandleExecuteComplete(TADOConnection& connection, std::int64_t recordsAffected,
                             const TADOError* error, TEventStatus& status,
                             TADOCommandObject* command, TCustomADODataSet* recordset);

  // The parameters of the component that sends `commandText`, for a notification that
  // carries no command object: the connection's command components first (their
  // command object's text), then its queries (their SQL rewritten by
  // ReplaceNamedParams) and stored procedures (their procedure name), lower index
  // first; texts compared ignoring case in the system code page. Null when none matches.
  static TParameters* FindParametersForText(const TADOConnection& connection,
                                            std::string_view commandText);

 private:
  // Composes one entry with `compose` and appends it to the operator's log; every
  // failure stops here.
  template <class Compose>
  void AppendEntry(bool monitored, Compose&& compose) noexcept;

  // The log file of an entry at `now`, built like EntryLogFileName. The entries of a
  // call mostly go to one file: the last name is kept with everything it was built
  // from, and built again only when one of them changes (day, directory, level, caller).
  const std::string& LogPath(bool monitored, platform::TDateTime now);

  struct TLogPath {
    bool monitored = false;
    std::int32_t level = 0;
    double day = 0;
    std::string directory;
    ClientIdentity identity;
    std::string path;
  };

  TConnectCompleteEvent savedConnectComplete_;
  TWillExecuteEvent savedWillExecute_;
  TExecuteCompleteEvent savedExecuteComplete_;
  TADOConnection& connection_;
  ClientIdentity identity_;
  platform::Clock& clock_;
  std::optional<TLogPath> lastPath_;
};

}  // namespace qar::diagnostics
