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
  std::string status;     // exact status, "expired" for pending rows of earlier days; empty: any
  std::string day;        // yyyy-mm-dd of insertion; empty: today; "all": any day
  std::int64_t id = 0;    // 0: any
  std::int64_t page = 1;  // from 1
};
inline constexpr std::int64_t kRequestsPerPage = 50;

// Raises EUsageError naming the value that is not a status, a date or a number.
TRequestFilter ParseRequestFilter(const std::string& status, const std::string& day,
                                  const std::string& id, const std::string& page);

struct TRequestPage {
  std::vector<state::TRequestRow> rows;  // by id, newest first
  std::int64_t total = 0;         // rows the filter selects on all pages
};
TRequestPage QueryRequests(TADOConnection& connection, const TRequestFilter& filter);

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

// Today's entries of the error logs in `logDirectory` (files "*_yyyymmdd_Error.log")
// and of `reportFile` (tr_report.txt, the entries dated today), newest first. Reads
// at most the last kMaxLogBytes of each file; a file that cannot be read becomes an
// entry saying so.
inline constexpr std::size_t kMaxLogBytes = 4 << 20;
std::vector<TLogEntry> ReadTodaysLogEntries(const std::string& logDirectory, const std::string& reportFile,
                                            const std::string& yyyymmdd);

// The entries of one log file's text, in file order: each begins with a line of '-'
// or '=' that a second such line follows after one line (the time or the title).
std::vector<TLogEntry> SplitLogEntries(const std::string& source, const std::string& text);

}  // namespace qar::tools
