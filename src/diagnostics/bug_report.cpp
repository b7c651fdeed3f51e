// The bug report of failed component creations.
#include "diagnostics/bug_report.h"

#include "diagnostics/log_captions.h"
#include "diagnostics/log_entry_text.h"
#include "diagnostics/log_file.h"
#include "platform/module.h"

namespace qar::diagnostics {

namespace {
constexpr std::size_t kMaxModuleFileName = 260;
constexpr std::size_t kSeparatorWidth = 77;

// Lies in the module that holds the diagnostics, whichever module that is.
const char kModuleAnchor = 0;
}  // namespace

std::string ModuleFileName(const void* module) {
  const std::string name =
      module == nullptr ? platform::ExecutableFileName() : platform::ModuleFileNameOf(module);
  return name.substr(0, kMaxModuleFileName);
}

std::string BugReportPath() {
  return platform::ExtractFilePath(ModuleFileName(&kModuleAnchor)) + "bugreport.txt";
}

std::string ComposeBugReportEntry(const BugReportEntry& entry, bool fileExisted,
                                  std::string_view dateTime) {
  TLogEntryText text;
  if (fileExisted) {
    text.Line(" ");
    text.Line(std::string(kSeparatorWidth, '='));
    text.Line(" ");
  }
  text.Line(captions::kReportDateTime, dateTime);
  text.Line(captions::kReportExe, entry.exeFileName);
  text.Line(captions::kReportDll, entry.componentModuleFileName);
  text.Line(captions::kReportDatamodule, entry.registeredClassName);
  text.Line(captions::kReportError, entry.failureClassName);
  text.Line(captions::kReportMessage, entry.message);
  return text.Text();
}

void AppendBugReport(const std::string& path, const BugReportEntry& entry,
                     platform::TDateTime when) {
  TLogFile file(path);
  file.Write(ComposeBugReportEntry(entry, file.Existed(), platform::DateTimeToStr(when)));
}

void WriteBugReport(std::string_view failureClassName, std::string_view message,
                    std::string_view componentModuleFileName,
                    std::string_view registeredClassName, platform::Clock& clock) {
  BugReportEntry entry;
  entry.exeFileName = ModuleFileName(nullptr);
  entry.componentModuleFileName = componentModuleFileName;
  entry.registeredClassName = registeredClassName;
  entry.failureClassName = failureClassName;
  entry.message = message;
  AppendBugReport(BugReportPath(), entry, clock.Now());
}

void WriteBugReport(std::string_view failureClassName, std::string_view message,
                    std::string_view componentModuleFileName,
                    std::string_view registeredClassName) {
  WriteBugReport(failureClassName, message, componentModuleFileName, registeredClassName,
                 platform::SystemClock());
}

}  // namespace qar::diagnostics
