// The agent's log: one line on stderr (when it has one) and in the system log (the
// journal once), for what it does and for what went wrong.
#pragma once

#include <exception>
#include <optional>
#include <string>

namespace qar::agent {

// Writes "<date time> QarSnc.exe[<pid>]: <message>" to stderr and the message to
// the system log; when stderr is the journal, there only (with the line's priority).
// Never blocks for long and never shows a dialog.
void LogInfo(const std::string& message);
// The same for a failure: "... QarSnc.exe[<pid>]: error: <message>".
void ReportError(const std::string& message);
// The message of whatever was thrown.
std::string DescribeException(std::exception_ptr error);

// How often a message that repeats in a row is written again (about an hour of
// 2-second ticks).
inline constexpr int kRepeatedErrorReportEvery = 1800;

// Keeps a lasting condition from flooding the log: the first message of a key is
// let through, then the same key again in a row only every kRepeatedErrorReportEvery
// times, with the count. Another key, or Reset(), starts afresh.
//
//   if (auto line = filter.Pass(message, message)) ReportError(*line);
class TRepeatFilter {
 public:
  std::optional<std::string> Pass(const std::string& key, const std::string& message);
  void Reset() { key_.reset(); }

 private:
  std::optional<std::string> key_;
  int repeats_ = 0;
};

}  // namespace qar::agent
