// Log file names for the monitor and error logs.
#include "diagnostics/log_file_name.h"

#include "diagnostics/monitor_settings.h"
#include "platform/module.h"
#include "platform/text.h"

namespace qar::diagnostics {

namespace {

constexpr std::size_t kModuleNameBuffer = 254;  // a 255-byte buffer with its NUL
constexpr std::size_t kMaxShortName = 15;
constexpr std::size_t kMaxIdentityPiece = 255;

// Lies in the module that holds the diagnostics, whichever module that is.
const char kModuleAnchor = 0;

// Separators, the characters Windows refuses in file names, and control characters.
bool IsUnsafeInFileName(unsigned char c) {
  switch (c) {
    case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
      return true;
    default:
      return c < 0x20 || c == 0x7F;
  }
}

// A trimmed identity piece made safe to stand in a file name.
std::string FileNamePiece(std::string_view piece) {
  std::string text = platform::TrimControl(piece.substr(0, kMaxIdentityPiece));
  for (char& c : text) {
    if (IsUnsafeInFileName(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

}  // namespace

std::string ShortNameOfModule(std::string_view moduleFileName) {
  const std::string full(moduleFileName.substr(0, kModuleNameBuffer));
  return platform::ExtractFileName(full).substr(0, kMaxShortName);
}

const std::string& ModuleShortName() {
  static const std::string shortName =
      ShortNameOfModule(platform::ModuleFileNameOf(&kModuleAnchor));
  return shortName;
}

std::string ComposeLogFileName(std::string_view directory, std::string_view moduleShortName,
                               platform::TDateTime today, std::int32_t level,
                               std::string_view operatorName, std::string_view application,
                               std::string_view host, bool isErrorLog) {
  std::string identity;
  if (level > 1) {
    std::string op = FileNamePiece(operatorName);
    if (!op.empty()) identity = op + "_";
  }
  if (level > 2) identity = FileNamePiece(application) + "_" + identity;
  if (level > 3) identity = FileNamePiece(host) + "_" + identity;

  std::string path(directory);
  path += moduleShortName;
  path += '_';
  path += identity;
  path += platform::FormatDateTime("yyyymmdd", today);
  path += isErrorLog ? "_Error.log" : "_Monitor.log";
  return path;
}

std::string EntryLogFileName(bool monitored, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             platform::TDateTime now) {
  constexpr std::int32_t kErrorLogLevel = 1;
  return ComposeLogFileName(GetTmpFileDir(), ModuleShortName(), now,
                            monitored ? SqlMonitorLevel() : kErrorLogLevel, operatorName,
                            application, host, /*isErrorLog=*/!monitored);
}

std::string BuildLogFileName(std::int32_t level, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             bool isErrorLog, platform::Clock& clock) {
  return ComposeLogFileName(GetTmpFileDir(), ModuleShortName(), clock.Now(), level, operatorName,
                            application, host, isErrorLog);
}

std::string BuildLogFileName(std::int32_t level, std::string_view operatorName,
                             std::string_view application, std::string_view host,
                             bool isErrorLog) {
  return BuildLogFileName(level, operatorName, application, host, isErrorLog,
                          platform::SystemClock());
}

}  // namespace qar::diagnostics
