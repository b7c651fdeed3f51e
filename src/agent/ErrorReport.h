// The agent's default error reporting: one line on stderr and in the system log.
#pragma once

#include <exception>
#include <string>

namespace qar::agent {

// Writes "<date time> QarSnc.exe: <message>" to stderr and the message to the
// system log. Never blocks for long and never shows a dialog.
void ReportError(const std::string& message);
// The message of whatever was thrown.
std::string DescribeException(std::exception_ptr error);

}  // namespace qar::agent
