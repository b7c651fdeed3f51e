// What the status page reads: counts and pages of CTRLEXECREM, the day's log entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "state/control_requests.h"

namespace qar {
class TADOConnection;
}

namespace qar::tools {

// Opens the connection for the page's reading: SQLite is told to refuse every write
// (query_only); other drivers only ever get the page's SELECT statements on it.
// Raises EDataError.
void OpenReadOnly(TADOConnection& connection, const std::string& connectionString);

// Which requests a page of the requests table shows.
struct TRequestFilter {
  // Exact status; "expired": pending rows of earlier days; "running": the rows whose
  // worker an agent supervises now, whatever their day; empty: any.
  std::string status;
  std::string day;        // yyyy-mm-dd of insertion; empty: today; "all": any day
  std::int64_t id = 0;    // 0: any
  std::int64_t page = 1;  // from 1
  std::string store, till;  // CDFILIAL, CDCAIXA in the operation text; empty: any
};
inline constexpr std::int64_t kRequestsPerPage = 50;

// Raises EUsageError naming the value that is not a status, a date, a number or a code.
TRequestFilter ParseRequestFilter(const std::string& status, const std::string& day, const std::string& id,
                                  const std::string& page, const std::string& store = {}, const std::string& till = {});

struct TRequestPage {
  std::vector<state::TRequestRow> rows;  // by id, newest first
  std::int64_t total = 0;         // rows the filter selects on all pages
};
// `running`: the requests agents supervise now (the "running" filter). The free texts
// (operation, error) come with their passwords masked, as every reader of the page's
// data gets them.
TRequestPage QueryRequests(TADOConnection& connection, const TRequestFilter& filter,
                           const std::vector<std::string>& running = {});

// One request with its times; `found` false when no row has the id.
struct TRequestDetail {
  bool found = false;
  state::TRequestRow row;
  std::string application, type, started, updated;
};
TRequestDetail QueryRequest(TADOConnection& connection, std::int64_t id);

// One entry of a log the diagnostics write: its time and text (ANSI, as written).
struct TLogEntry {
  std::string source;  // the file's name
  std::string time;    // hh:nn:ss, or the report's date and time
  std::string text;
};

// Today's latest entries of the error logs in `logDirectory` (files
// "*_yyyymmdd_Error.log") and of `reportFile` (tr_report.txt, the entries dated
// today), newest first, at most `maxEntries`. The work is bounded: only the last
// kLogTailBytes of each of at most kMaxLogFiles files are read (platform::ReadFileTail:
// regular files only). A file that cannot be read becomes an entry saying so; texts
// come with their passwords masked.
inline constexpr std::size_t kLogTailBytes = 256 << 10, kMaxLogFiles = 32, kMaxLogEntries = 500;
std::vector<TLogEntry> ReadTodaysLogEntries(const std::string& logDirectory, const std::string& reportFile,
                                            const std::string& yyyymmdd, std::size_t maxEntries = kMaxLogEntries);

// The entries of one log file's text, in file order: each begins with a line of '-'
// or '=' that a second such line follows after one line (the time or the title);
// lines before the first entry (a cut beginning) make an entry without a time.
std::vector<TLogEntry> SplitLogEntries(const std::string& source, const std::string& text);

// The page's record of its cancels, one line each: "<when>\t<request>\t<address>"
// appended to `file` (diagnostics::AppendToLogFile; raises EInOutError).
void RecordCancel(const std::string& file, std::int64_t request, const std::string& when, const std::string& address);
// "<when> from <address>" of each recorded cancel of `request` among the file's last
// kLogTailBytes; the file is group-writable, so a line of another shape is skipped.
std::vector<std::string> RecordedCancels(const std::string& file, std::int64_t request);

}  // namespace qar::tools
