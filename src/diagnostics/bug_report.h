// bugreport.txt: the first failure to create a wrapped component, beside the module.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/datetime.h"

namespace qar::diagnostics {

// The full file name (at most 260 characters) of the module that holds `module`: a
// module handle, or any address of code or data in the module. Null gives the
// process's executable.
std::string ModuleFileName(const void* module);

// The six values of one report entry, ANSI text.
struct BugReportEntry {
  std::string exeFileName;              // the process's executable
  std::string componentModuleFileName;  // the module that defines the component class
  std::string registeredClassName;      // the class name the class factory registers
  std::string failureClassName;         // the failure's type name
  std::string message;                  // the failure's message
};

// "bugreport.txt" in the directory of the module that holds the diagnostics.
std::string BugReportPath();

// One entry's bytes: six captioned lines, after a separator (" ", 77 "=", " ")
// when the file already exists. `dateTime` is the date-time text of the first line.
std::string ComposeBugReportEntry(const BugReportEntry& entry, bool fileExisted,
                                  std::string_view dateTime);

// Appends one entry to the report at `path`, dated `when` in the process's date-time
// form. Throws EInOutError when the report cannot be opened, created or written.
void AppendBugReport(const std::string& path, const BugReportEntry& entry,
                     platform::TDateTime when);

// Appends one entry for a failure to create a component to BugReportPath(), with the
// running executable and the current time. Failures to write reach the caller as
// EInOutError.
void WriteBugReport(std::string_view failureClassName, std::string_view message,
                    std::string_view componentModuleFileName,
                    std::string_view registeredClassName);
// The same, with the time taken from `clock`.
void WriteBugReport(std::string_view failureClassName, std::string_view message,
                    std::string_view componentModuleFileName,
                    std::string_view registeredClassName, platform::Clock& clock);

}  // namespace qar::diagnostics
