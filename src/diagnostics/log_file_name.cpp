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

// An identity piece (cut at 255 characters) without leading and trailing blanks and
// control characters.
std::string_view Trimmed(std::string_view piece) {
  piece = piece.substr(0, kMaxIdentityPiece);
  while (!piece.empty() && static_cast<unsigned char>(piece.front()) <= ' ') piece.remove_prefix(1);
  while (!piece.empty() && static_cast<unsigned char>(piece.back()) <= ' ') piece.remove_suffix(1);
  return piece;
}

// Appends a trimmed piece made safe to stand in a file name, and "_".
void AppendFileNamePiece(std::string& name, std::string_view trimmed) {
  const std::size_t start = name.size();
  name += trimmed;
  for (std::size_t i = start; i < name.size(); ++i)
    if (IsUnsafeInFileName(static_cast<unsigned char>(name[i]))) name[i] = '_';
  name += '_';
}

// "yyyymmdd" (written for every entry, so without the general formatter).
void AppendDate(std::string& path, platform::TDateTime today) {
  const platform::DateTimeParts p = platform::DecodeDateTime(today);
  if (p.year < 1000 || p.year > 9999) {
    path += platform::FormatDateTime("yyyymmdd", today);
    return;
  }
  const char date[] = {static_cast<char>('0' + p.year / 1000), static_cast<char>('0' + p.year / 100 % 10),
                       static_cast<char>('0' + p.year / 10 % 10), static_cast<char>('0' + p.year % 10),
                       static_cast<char>('0' + p.month / 10), static_cast<char>('0' + p.month % 10),
                       static_cast<char>('0' + p.day / 10), static_cast<char>('0' + p.day % 10)};
  path.append(date, sizeof date);
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
  // The pieces stand latest first: host, application, operator.
  std::string path;
  path.reserve(directory.size() + moduleShortName.size() + 64);
  path += directory;
  path += moduleShortName;
  path += '_';
  if (level > 3) AppendFileNamePiece(path, Trimmed(host));
  if (level > 2) AppendFileNamePiece(path, Trimmed(application));
  if (level > 1 && !Trimmed(operatorName).empty()) AppendFileNamePiece(path, Trimmed(operatorName));
  AppendDate(path, today);
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
