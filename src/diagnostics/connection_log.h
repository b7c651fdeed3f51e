// The connection log entry: a monitored caller's connection, or another caller's failed one.
#pragma once

#include <optional>
#include <string>

#include "data/ado_connection.h"
#include "platform/clock.h"

namespace qar::diagnostics {

// The event status value that means "errors occurred"; only this value is tested.
inline constexpr int kEventStatusErrorsOccurred = esErrorsOccured;

// What one connection log entry needs to know. Texts are ANSI; convert wide texts
// with platform::Utf16ToAnsi first.
struct ConnectionLogEvent {
  std::string connectionString;  // as the connection holds it; masked when written
  std::string ownerName;         // the component that owns the connection (data module)
  bool designTimeConnected = false;
  bool viaSocketServer = false;
  std::string operatorName;
  std::string application;
  std::string host;
  // The error object's description; absent when the event carries no error object.
  std::optional<std::string> errorDescription;
  int status = 0;  // kEventStatusErrorsOccurred, or anything else for OK
};

// Appends one entry, or nothing: for a monitored operator the full entry goes to the
// monitor log; for any other operator only a failed connection is written, to the
// day's error log. Every failure is swallowed: the entry is lost, the caller goes on.
void WriteConnectionLogEntry(const ConnectionLogEvent& event) noexcept;
// The same, with the time and date taken from `clock`.
void WriteConnectionLogEntry(const ConnectionLogEvent& event, platform::Clock& clock) noexcept;

// The entry for a connection component: its current connection string and the name
// of its owner (the data module), the notification's error object (may be null) and
// status. Never raises.
void WriteConnectionLogEntry(const TADOConnection& connection, bool designTimeConnected,
                             bool viaSocketServer, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             const TADOError* error, TEventStatus status,
                             platform::Clock& clock = platform::SystemClock()) noexcept;

// The entry's bytes: layout A (monitored: the "=" banner with the time) or layout B
// (the time between hyphen lines and the statement "CONEXÃO"), the observations when
// a flag is set, and the error when the status says so and a description is present.
// `time` is the "hh:nn:ss" text.
std::string ComposeConnectionLogEntry(const ConnectionLogEvent& event, bool monitored,
                                      std::string_view time);

}  // namespace qar::diagnostics
