#include "tools/status_data.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>

#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/connection_object.h"
#include "data/data_error.h"
#include "diagnostics/log_file.h"
#include "diagnostics/mask_password.h"
#include "platform/file_tail.h"
#include "platform/module.h"
#include "state/command_error.h"
#include "state/control_table.h"
#include "state/shown_text.h"

namespace qar::tools {

using state::ECommandError;
using state::EUsageError;
using state::Quoted;
using state::TRequestRow;
using state::ReadRequestRow;
using state::RequestRowColumns;
using state::kStatusPending;

namespace {

constexpr const char* kExpired = "expired";
constexpr const char* kRunning = "running";

std::int64_t ParseWhole(const char* name, const std::string& text, std::int64_t low, std::int64_t high) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < low || value > high) {
    throw EUsageError(std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
                      std::to_string(high) + ", not \"" + Quoted(text) + "\"");
  }
  return value;
}

bool IsDay(const std::string& day) {
  if (day.size() != 10 || day[4] != '-' || day[7] != '-') return false;
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (day[i] < '0' || day[i] > '9') return false;
  return true;
}

// The day as CONVERT(VARCHAR,x,103) writes it.
std::string DayAsDdMmYyyy(const std::string& day) {
  return day.substr(8, 2) + "/" + day.substr(5, 2) + "/" + day.substr(0, 4);
}

bool IsSeparator(std::string_view line) {
  return line.size() >= 8 && (line.find_first_not_of('-') == std::string_view::npos ||
                              line.find_first_not_of('=') == std::string_view::npos);
}

// A store or till code as a filter takes it: what a request's code may hold, and no
// character a LIKE pattern or the operation text gives a meaning.
bool IsCode(const std::string& code) {
  return code.size() <= state::kMaxCodeLength && std::all_of(code.begin(), code.end(), [](char c) {
           return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
         });
}

// The pattern of a value as ExtractOperationValue finds it: the name, three characters, the value, a quote.
std::string OperationPattern(const char* name, const std::string& value) { return std::string("%") + name + "___" + value + "\"%"; }

void MaskRow(TRequestRow& row) {
  row.operation = diagnostics::MaskPassword(row.operation);
  row.error = diagnostics::MaskPassword(row.error);
}

}  // namespace

void OpenReadOnly(TADOConnection& connection, const std::string& connectionString) {
  connection.SetConnectionString(connectionString);
  connection.Open();
  if (!connection.ConnectionObject()->SqliteDialect()) return;
  connection.Execute("PRAGMA query_only = ON");
  // A connection lives for one answer: its sorts stay in memory. The file is not mapped:
  // any member of the group may truncate it, and a mapped read past its end kills the page.
  connection.Execute("PRAGMA temp_store = MEMORY");
}

TRequestFilter ParseRequestFilter(const std::string& status, const std::string& day, const std::string& id,
                                  const std::string& page, const std::string& store, const std::string& till) {
  TRequestFilter filter;
  // IDSTCTRLEXECREM is a VARCHAR(3).
  if (status != kExpired && status != kRunning && (status.size() > 3 || !std::all_of(status.begin(), status.end(), [](char c) {
                               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
                             }))) {
    throw EUsageError("the status must be up to three letters, \"expired\" or \"running\", not \"" + Quoted(status) + "\"");
  }
  filter.status = status;
  if (!day.empty() && day != "all" && !IsDay(day)) {
    throw EUsageError("the date must be yyyy-mm-dd or \"all\", not \"" + Quoted(day) + "\"");
  }
  filter.day = day;
  if (!id.empty()) filter.id = ParseWhole("the request id", id, 1, std::numeric_limits<std::int32_t>::max());
  if (!page.empty()) filter.page = ParseWhole("the page", page, 1, 1000000);
  for (const std::string* code : {&store, &till})
    if (!IsCode(*code)) throw EUsageError("a store or till code is letters, digits, - and ., not \"" + Quoted(*code) + "\"");
  filter.store = store;
  filter.till = till;
  return filter;
}

TRequestPage QueryRequests(TADOConnection& connection, const TRequestFilter& filter,
                           const std::vector<std::string>& running) {
  std::string today;
  try {
    today = state::InsertedTodayCondition(connection);
  } catch (const EDataError& error) {
    throw ECommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
  std::string where;
  const auto add = [&where](const std::string& condition) { where += (where.empty() ? " WHERE " : " AND ") + condition; };
  if (filter.status == kRunning) {
    // Whole numbers only: an agent's published request id is outside input.
    std::string ids;
    for (const std::string& id : running)
      if (!id.empty() && id.size() < 12 && id.find_first_not_of("0123456789") == std::string::npos) ids += (ids.empty() ? "" : ",") + id;
    add("IDCTRLEXECREM IN (" + (ids.empty() ? std::string("-1") : ids) + ") AND IDSTCTRLEXECREM = '" + kStatusPending + "'");
  }
  if (!filter.store.empty()) add("DSOPERACAO LIKE :FILIAL");
  if (!filter.till.empty()) add("DSOPERACAO LIKE :CAIXA");
  if (filter.id != 0) {
    add("IDCTRLEXECREM = :ID");  // an id is found whatever its day
  } else if (filter.status == kRunning) {
    // any day: the agent's own request
  } else if (filter.status == kExpired) {
    add(std::string("IDSTCTRLEXECREM = '") + kStatusPending + "' AND NOT " + today);
  } else if (filter.day.empty()) {
    add(today);
  } else if (filter.day != "all") {
    add("CONVERT(VARCHAR,DTINCLUSAO,103) = :DIA");
  }
  const bool exact = !filter.status.empty() && filter.status != kExpired && filter.status != kRunning;
  if (exact) add("IDSTCTRLEXECREM = :STATUS");
  const auto bind = [&filter, exact](TADOQuery& query) {
    if (!filter.store.empty()) query.Parameters().ParamByName("FILIAL").SetValue(OperationPattern("CDFILIAL", filter.store));
    if (!filter.till.empty()) query.Parameters().ParamByName("CAIXA").SetValue(OperationPattern("CDCAIXA", filter.till));
    if (filter.id != 0) query.Parameters().ParamByName("ID").SetValue(filter.id);
    if (filter.id == 0 && filter.status != kExpired && filter.status != kRunning && !filter.day.empty() && filter.day != "all")
      query.Parameters().ParamByName("DIA").SetValue(DayAsDdMmYyyy(filter.day));
    if (exact) query.Parameters().ParamByName("STATUS").SetValue(filter.status);
  };

  TRequestPage page;
  try {
    TADOQuery count;
    count.SetConnection(&connection);
    count.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM" + where);
    bind(count);
    count.Open();
    page.total = count.FieldByName("N").Value().AsInt64();

    const std::int64_t offset = (filter.page - 1) * kRequestsPerPage;
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add("SELECT " + RequestRowColumns(today));
    query.SQL().Add("  FROM CTRLEXECREM" + where);
    query.SQL().Add(" ORDER BY IDCTRLEXECREM DESC");
    // Both numbers are checked whole numbers: written into the text, no driver needs
    // to accept parameters here.
    if (!connection.Connected()) connection.Open();
    query.SQL().Add(connection.ConnectionObject()->SqliteDialect()
                        ? " LIMIT " + std::to_string(kRequestsPerPage) + " OFFSET " + std::to_string(offset)
                        : " OFFSET " + std::to_string(offset) + " ROWS FETCH NEXT " +
                              std::to_string(kRequestsPerPage) + " ROWS ONLY");
    bind(query);
    query.Open();
    for (query.First(); !query.Eof(); query.Next()) MaskRow(page.rows.emplace_back(ReadRequestRow(query)));
  } catch (const EDataError& error) {
    throw ECommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
  return page;
}

TRequestDetail QueryRequest(TADOConnection& connection, std::int64_t id) {
  TRequestDetail detail;
  try {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add("SELECT " + RequestRowColumns() + ",");
    query.SQL().Add("       CDAPP, TPOPERACAO, CONVERT(VARCHAR,DTINICIO,120) AS DTINICIO,");
    query.SQL().Add("       CONVERT(VARCHAR,DTULTATU,120) AS DTULTATU");
    query.SQL().Add("  FROM CTRLEXECREM WHERE IDCTRLEXECREM = :ID");
    query.Parameters().ParamByName("ID").SetValue(id);
    query.Open();
    if (query.IsEmpty()) return detail;
    detail.found = true;
    detail.row = ReadRequestRow(query);
    MaskRow(detail.row);
    detail.application = query.FieldByName("CDAPP").AsString();
    detail.type = query.FieldByName("TPOPERACAO").AsString();
    detail.started = query.FieldByName("DTINICIO").AsString();
    detail.updated = query.FieldByName("DTULTATU").AsString();
  } catch (const EDataError& error) {
    throw ECommandError(std::string("CTRLEXECREM cannot be read: ") + error.what());
  }
  return detail;
}

std::vector<TLogEntry> SplitLogEntries(const std::string& source, const std::string& text) {
  std::vector<std::string_view> lines;
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  std::vector<TLogEntry> entries;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const bool starts = i + 2 < lines.size() && IsSeparator(lines[i]) && IsSeparator(lines[i + 2]) &&
                        !IsSeparator(lines[i + 1]);
    if (starts) {
      entries.push_back({source, std::string(lines[i + 1]), {}});
      i += 2;
      continue;
    }
    if (entries.empty()) entries.push_back({source, {}, {}});  // a cut beginning, or no header at all
    TLogEntry& entry = entries.back();
    if (!entry.text.empty()) entry.text += '\n';
    entry.text += lines[i];
  }
  for (TLogEntry& entry : entries) {
    while (!entry.text.empty() && (entry.text.back() == '\n' || entry.text.back() == ' ')) entry.text.pop_back();
    // A report names its day in "Data/Hora .: dd/mm/yyyy hh:nn:ss"; its title is no time.
    const std::size_t when = entry.text.find("Data/Hora .: ");
    if (when != std::string::npos) {
      const std::size_t start = when + 13;
      entry.time = entry.text.substr(start, std::min<std::size_t>(19, entry.text.find('\n', start) - start));
    }
  }
  return entries;
}

std::vector<TLogEntry> ReadTodaysLogEntries(const std::string& logDirectory, const std::string& reportFile,
                                            const std::string& yyyymmdd, std::size_t maxEntries) {
  std::vector<TLogEntry> entries;
  const auto readFile = [&entries](const std::string& file, const auto& keep) {
    const std::string name = platform::ExtractFileName(file);
    const platform::TFileTail tail = platform::ReadFileTail(file, kLogTailBytes);
    if (!tail.ok) return entries.push_back({name, "", "this file cannot be read: " + tail.error});
    for (TLogEntry& entry : SplitLogEntries(name, tail.text))
      if (keep(entry)) entries.push_back(std::move(entry));
  };
  const std::string suffix = "_" + yyyymmdd + "_Error.log";
  std::error_code error;
  std::vector<std::string> files;
  if (!logDirectory.empty()) {
    for (std::filesystem::directory_iterator it(platform::ToNativePath(logDirectory), error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().filename().string().ends_with(suffix)) files.push_back(platform::FromNativePath(it->path()));
    }
  }
  // The latest names first, as far as a page's work goes.
  std::sort(files.rbegin(), files.rend());
  if (files.size() > kMaxLogFiles) {
    entries.push_back({logDirectory, "", std::to_string(files.size() - kMaxLogFiles) + " more of today's logs are not shown"});
    files.resize(kMaxLogFiles);
  }
  for (const std::string& file : files) readFile(file, [](const TLogEntry&) { return true; });
  if (error) entries.push_back({logDirectory, "", "the log directory cannot be read: " + error.message()});
  // tr_report.txt grows across days; an entry is today's by its date.
  const std::string day = yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
  if (!reportFile.empty() && std::filesystem::exists(platform::ToNativePath(reportFile), error))
    readFile(reportFile, [&day](const TLogEntry& entry) { return entry.time.starts_with(day); });
  // Newest first: error-log times are hh:nn:ss of today, report times "dd/mm/yyyy hh:nn:ss";
  // a time of another shape (a planted or cut entry) sorts as it is.
  const auto clock = [](const TLogEntry& entry) {
    return entry.time.size() >= 19 ? std::string_view(entry.time).substr(11, 8) : std::string_view(entry.time);
  };
  std::stable_sort(entries.begin(), entries.end(),
                   [&clock](const TLogEntry& a, const TLogEntry& b) { return clock(a) > clock(b); });
  if (entries.size() > maxEntries) entries.resize(maxEntries);
  for (TLogEntry& entry : entries) entry.text = diagnostics::MaskPassword(entry.text);
  return entries;
}

void RecordCancel(const std::string& file, std::int64_t request, const std::string& when, const std::string& address) {
  diagnostics::AppendToLogFile(file, when + "\t" + std::to_string(request) + "\t" + address + "\n");
}

std::vector<std::string> RecordedCancels(const std::string& file, std::int64_t request) {
  std::vector<std::string> cancels;
  const platform::TFileTail tail = platform::ReadFileTail(file, kLogTailBytes);
  const std::string key = "\t" + std::to_string(request) + "\t";
  for (std::size_t start = 0, end; tail.ok && start < tail.text.size(); start = end + 1) {
    end = std::min(tail.text.find('\n', start), tail.text.size());
    const std::string_view line = std::string_view(tail.text).substr(start, end - start);
    const std::size_t at = line.find(key);
    if (at != std::string_view::npos && at < 20) cancels.push_back(std::string(line.substr(0, at)) + " from " + std::string(line.substr(at + key.size())));
  }
  return cancels;
}

}  // namespace qar::tools
