// Names of the daily monitor and error logs: module, caller identity, date and kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/datetime.h"

namespace qar::diagnostics {

// The first 15 characters of the file name (extension included) of the module that
// holds the diagnostics: the agent's executable, or the library it is built into.
// Computed on the first call and kept for the life of the process.
const std::string& ModuleShortName();

// The short name for a module's full file name: its file-name part, at most 15
// characters, taken from at most the first 254 characters of the full name.
std::string ShortNameOfModule(std::string_view moduleFileName);

// The full path of today's log file for one entry: GetTmpFileDir() + ModuleShortName
// + "_" + identity + date "yyyymmdd" + "_Monitor.log" (or "_Error.log"). The identity
// holds, latest first, host (level > 3), application (level > 2) and operator
// (level > 1, when not blank), each trimmed and followed by "_". Never creates the file.
//
// The identity comes from remote callers: every character of it that separates paths,
// is not allowed in a Windows file name or is a control character becomes "_", so a
// caller can never steer the write out of the log directory.
std::string BuildLogFileName(std::int32_t level, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             bool isErrorLog);
// The same, with "today" taken from `clock`.
std::string BuildLogFileName(std::int32_t level, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             bool isErrorLog, platform::Clock& clock);

// The file of one entry written at `now`: today's monitor log at SqlMonitorLevel()
// for a monitored operator, else the day's error log (level 1: no identity).
std::string EntryLogFileName(bool monitored, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             platform::TDateTime now);

// The pure composition behind BuildLogFileName, from explicit pieces.
std::string ComposeLogFileName(std::string_view directory, std::string_view moduleShortName,
                               platform::TDateTime today, std::int32_t level,
                               std::string_view operatorName, std::string_view application,
                               std::string_view host, bool isErrorLog);

}  // namespace qar::diagnostics
