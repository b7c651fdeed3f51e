#include "agent/error_report.h"

#include <cstdio>

#include "agent/agent_state.h"
#include "platform/datetime.h"
#include "platform/process.h"
#include "platform/systemlog.h"
#include "platform/text.h"

namespace qar::agent {

namespace {
void Write(platform::LogLevel level, const std::string& message) {
  const std::string line = platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", platform::Now()) + " " +
                           kAgentExeName + "[" + std::to_string(platform::CurrentProcessId()) + "]: " +
                           (level == platform::LogLevel::kError ? "error: " : "") + message + "\n";
  // The journal takes a "<3>" or "<6>" in front as the line's priority.
  static const bool journal = platform::StandardErrorIsJournal();
  const std::string utf8 = platform::AnsiToConsole(journal ? (level == platform::LogLevel::kError ? "<3>" : "<6>") + line
                                                           : line);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
  // Standard error that is the journal already is the system log: once is enough.
  if (!journal) platform::WriteSystemLog(kAgentExeName, level, message);
}
}  // namespace

void LogInfo(const std::string& message) { Write(platform::LogLevel::kInfo, message); }

void ReportError(const std::string& message) { Write(platform::LogLevel::kError, message); }

std::string DescribeException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

std::optional<std::string> TRepeatFilter::Pass(const std::string& key, const std::string& message) {
  if (key_ != key) {
    key_ = key;
    repeats_ = 0;
    return message;
  }
  if (++repeats_ % kRepeatedErrorReportEvery != 0) return std::nullopt;
  return message + " (repeated " + std::to_string(repeats_) + " times)";
}

}  // namespace qar::agent
