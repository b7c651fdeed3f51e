#include "tools/status_data.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>

#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/connection_object.h"
#include "data/data_error.h"
#include "platform/module.h"
#include "state/command_error.h"
#include "state/control_table.h"
#include "state/shown_text.h"

namespace qar::tools {

using state::ECommandError;
using state::EUsageError;
using state::Quoted;
using state::TRequestRow;
using state::kInsertedToday;
using state::ReadRequestRow;
using state::RequestRowColumns;
using state::kStatusPending;

namespace {

constexpr const char* kExpired = "expired";

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

std::string ReadTail(const std::filesystem::path& file, std::size_t maxBytes) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot be opened");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff start = size > static_cast<std::streamoff>(maxBytes) ? size - static_cast<std::streamoff>(maxBytes) : 0;
  in.seekg(start);
  std::string text(static_cast<std::size_t>(size - start), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (!in) throw std::runtime_error("cannot be read");
  return text;
}

}  // namespace

void OpenReadOnly(TADOConnection& connection, const std::string& connectionString) {
  connection.SetConnectionString(connectionString);
  connection.Open();
  if (connection.ConnectionObject()->SqliteDialect()) connection.Execute("PRAGMA query_only = ON");
}

TRequestFilter ParseRequestFilter(const std::string& status, const std::string& day, const std::string& id,
                                  const std::string& page) {
  TRequestFilter filter;
  // IDSTCTRLEXECREM is a VARCHAR(3).
  if (status != kExpired && (status.size() > 3 || !std::all_of(status.begin(), status.end(), [](char c) {
                               return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
                             }))) {
    throw EUsageError("the status must be up to three letters or \"expired\", not \"" + Quoted(status) + "\"");
  }
  filter.status = status;
  if (!day.empty() && day != "all" && !IsDay(day)) {
    throw EUsageError("the date must be yyyy-mm-dd or \"all\", not \"" + Quoted(day) + "\"");
  }
  filter.day = day;
  if (!id.empty()) filter.id = ParseWhole("the request id", id, 1, std::numeric_limits<std::int32_t>::max());
  if (!page.empty()) filter.page = ParseWhole("the page", page, 1, 1000000);
  return filter;
}

TRequestPage QueryRequests(TADOConnection& connection, const TRequestFilter& filter) {
  std::string where;
  const auto add = [&where](const std::string& condition) { where += (where.empty() ? " WHERE " : " AND ") + condition; };
  if (filter.id != 0) {
    add("IDCTRLEXECREM = :ID");  // an id is found whatever its day
  } else if (filter.status == kExpired) {
    add(std::string("IDSTCTRLEXECREM = '") + kStatusPending + "' AND NOT (" + kInsertedToday + ")");
  } else if (filter.day.empty()) {
    add(kInsertedToday);
  } else if (filter.day != "all") {
    add("CONVERT(VARCHAR,DTINCLUSAO,103) = :DIA");
  }
  if (!filter.status.empty() && filter.status != kExpired) add("IDSTCTRLEXECREM = :STATUS");
  const auto bind = [&filter](TADOQuery& query) {
    if (filter.id != 0) query.Parameters().ParamByName("ID").SetValue(filter.id);
    if (filter.id == 0 && filter.status != kExpired && !filter.day.empty() && filter.day != "all")
      query.Parameters().ParamByName("DIA").SetValue(DayAsDdMmYyyy(filter.day));
    if (!filter.status.empty() && filter.status != kExpired)
      query.Parameters().ParamByName("STATUS").SetValue(filter.status);
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
    query.SQL().Add("SELECT " + RequestRowColumns());
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
    for (query.First(); !query.Eof(); query.Next()) page.rows.push_back(ReadRequestRow(query));
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
    if (entries.empty()) continue;  // a cut beginning (the file's tail) or a stray line
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
                                            const std::string& yyyymmdd) {
  std::vector<TLogEntry> entries;
  const auto readFile = [&entries](const std::filesystem::path& file, const auto& keep) {
    const std::string name = platform::ExtractFileName(file.string());
    try {
      for (TLogEntry& entry : SplitLogEntries(name, ReadTail(file, kMaxLogBytes)))
        if (keep(entry)) entries.push_back(std::move(entry));
    } catch (const std::exception& error) {
      entries.push_back({name, "", std::string("this file ") + error.what()});
    }
  };
  const std::string suffix = "_" + yyyymmdd + "_Error.log";
  std::error_code error;
  if (!logDirectory.empty()) {
    for (std::filesystem::directory_iterator it(platform::ToNativePath(logDirectory), error), end; !error && it != end;
         it.increment(error)) {
      if (it->path().filename().string().ends_with(suffix)) readFile(it->path(), [](const TLogEntry&) { return true; });
    }
  }
  if (error) entries.push_back({logDirectory, "", "the log directory cannot be read: " + error.message()});
  // tr_report.txt grows across days; an entry is today's by its date.
  const std::string day = yyyymmdd.substr(6, 2) + "/" + yyyymmdd.substr(4, 2) + "/" + yyyymmdd.substr(0, 4);
  if (!reportFile.empty() && std::filesystem::exists(platform::ToNativePath(reportFile), error))
    readFile(platform::ToNativePath(reportFile), [&day](const TLogEntry& entry) { return entry.time.starts_with(day); });
  // Newest first: error-log times are hh:nn:ss of today, report times "dd/mm/yyyy hh:nn:ss".
  const auto clock = [](const TLogEntry& entry) { return entry.time.size() > 8 ? entry.time.substr(11) : entry.time; };
  std::stable_sort(entries.begin(), entries.end(),
                   [&clock](const TLogEntry& a, const TLogEntry& b) { return clock(a) > clock(b); });
  return entries;
}

}  // namespace qar::tools
