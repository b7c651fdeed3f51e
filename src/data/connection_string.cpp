#include "data/connection_string.h"

#include <charconv>

#include "data/data_error.h"
#include "platform/text.h"

namespace qar {

namespace {

std::string Trim(std::string_view text) { return platform::TrimControl(text); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && platform::SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// ODBC values that contain ';', braces or blanks go between braces.
std::string OdbcValue(const std::string& value) {
  if (value.find_first_of(";{} ") == std::string::npos) return value;
  std::string quoted = "{";
  for (char c : value) {
    quoted += c;
    if (c == '}') quoted += '}';
  }
  return quoted + "}";
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseConnectionString(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t p = 0;
  while (p < text.size()) {
    const std::size_t equals = text.find('=', p);
    const std::size_t semicolon = text.find(';', p);
    if (equals == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < equals)) {
      if (semicolon == std::string_view::npos) break;
      p = semicolon + 1;  // a piece without "=" carries nothing
      continue;
    }
    std::string key = Trim(text.substr(p, equals - p));
    std::size_t q = equals + 1;
    while (q < text.size() && text[q] == ' ') ++q;
    std::string value;
    if (q < text.size() && (text[q] == '"' || text[q] == '\'' || text[q] == '{')) {
      const char open = text[q];
      const char close = open == '{' ? '}' : open;
      ++q;
      while (q < text.size()) {
        if (text[q] == close) {
          if (q + 1 < text.size() && text[q + 1] == close) {
            value += close;
            q += 2;
            continue;
          }
          ++q;
          break;
        }
        value += text[q++];
      }
      const std::size_t next = text.find(';', q);
      p = next == std::string_view::npos ? text.size() : next + 1;
    } else {
      const std::size_t next = text.find(';', q);
      const std::size_t valueEnd = next == std::string_view::npos ? text.size() : next;
      value = Trim(text.substr(q, valueEnd - q));
      p = next == std::string_view::npos ? text.size() : next + 1;
    }
    if (!key.empty()) pairs.emplace_back(std::move(key), std::move(value));
  }
  return pairs;
}

std::string ConnectionStringValue(std::string_view text, std::string_view key) {
  for (const auto& [name, value] : ParseConnectionString(text))
    if (platform::SameTextAscii(name, key)) return value;
  return {};
}

std::string WithDefaultProvider(std::string_view text, std::string_view provider) {
  const auto pairs = ParseConnectionString(text);
  if (pairs.empty()) return std::string(text);  // nothing to connect with stays so
  for (const auto& [key, value] : pairs) {
    for (const char* named : {"Provider", "Driver", "DSN", "FILEDSN"})
      if (platform::SameTextAscii(key, named)) return std::string(text);
  }
  return "Provider=" + std::string(provider) + ";" + std::string(text);
}

TDriverChoice ChooseDriver(std::string_view connectionString,
                           std::string_view defaultSqlServerDriver,
                           std::string_view defaultOracleDriver) {
  const auto pairs = ParseConnectionString(connectionString);
  std::string provider;
  std::string driver;
  bool hasDsn = false;
  for (const auto& [key, value] : pairs) {
    if (platform::SameTextAscii(key, "Provider") && provider.empty()) provider = value;
    if (platform::SameTextAscii(key, "Driver") && driver.empty()) driver = value;
    if (platform::SameTextAscii(key, "DSN") || platform::SameTextAscii(key, "FILEDSN")) hasDsn = true;
  }

  TDriverChoice choice;
  if (StartsWithNoCase(provider, "SQLite")) {
    choice.kind = TDriverChoice::kEmbeddedSqlite;
    choice.target = ConnectionStringValue(connectionString, "Data Source");
    if (choice.target.empty()) choice.target = ConnectionStringValue(connectionString, "Database");
    if (choice.target.empty()) throw EDataError("No Data Source given for the SQLite provider");
    const std::string journal = ConnectionStringValue(connectionString, "Journal Mode");
    choice.journalDelete = platform::SameTextAscii(journal, "Delete");
    if (!journal.empty() && !choice.journalDelete && !platform::SameTextAscii(journal, "WAL"))
      throw EDataError("Journal Mode must be WAL or Delete (" + journal + ")");
    const std::string timeout = ConnectionStringValue(connectionString, "Busy Timeout");
    if (!timeout.empty()) {
      const auto [end, error] = std::from_chars(timeout.data(), timeout.data() + timeout.size(), choice.busyTimeoutMs);
      if (error != std::errc() || end != timeout.data() + timeout.size() || choice.busyTimeoutMs < 0 ||
          choice.busyTimeoutMs > kMaxBusyTimeoutMs)
        throw EDataError("Busy Timeout must be a number of milliseconds from 0 to " +
                         std::to_string(kMaxBusyTimeoutMs) + " (" + timeout + ")");
    }
    return choice;
  }

  const bool sqlServer = StartsWithNoCase(provider, "SQLOLEDB") ||
                         StartsWithNoCase(provider, "MSOLEDBSQL") ||
                         StartsWithNoCase(provider, "SQLNCLI");
  const bool oracle = StartsWithNoCase(provider, "MSDAORA");
  choice.kind = TDriverChoice::kOdbc;
  if (sqlServer || oracle) {
    std::string odbc = "Driver=" + OdbcValue(driver.empty()
                                                 ? std::string(sqlServer ? defaultSqlServerDriver
                                                                         : defaultOracleDriver)
                                                 : driver);
    for (const auto& [key, value] : pairs) {
      std::string name;
      std::string text = value;
      if (platform::SameTextAscii(key, "Data Source") || platform::SameTextAscii(key, "Server")) {
        name = sqlServer ? "Server" : "DBQ";
      } else if (platform::SameTextAscii(key, "Initial Catalog") ||
                 platform::SameTextAscii(key, "Database")) {
        name = "Database";
      } else if (platform::SameTextAscii(key, "User ID") || platform::SameTextAscii(key, "UID")) {
        name = "UID";
      } else if (platform::SameTextAscii(key, "Password") || platform::SameTextAscii(key, "PWD")) {
        name = "PWD";
      } else if (platform::SameTextAscii(key, "Integrated Security") && sqlServer) {
        if (!platform::SameTextAscii(value, "SSPI") && !platform::SameTextAscii(value, "true")) continue;
        name = "Trusted_Connection";
        text = "yes";
      } else if (platform::SameTextAscii(key, "Application Name") && sqlServer) {
        name = "APP";
      } else if (platform::SameTextAscii(key, "Workstation ID") && sqlServer) {
        name = "WSID";
      } else if (platform::SameTextAscii(key, "Port")) {
        name = "Port";
      } else {
        continue;  // OLE DB-only keywords (Persist Security Info, ...) have no ODBC form
      }
      odbc += ";" + name + "=" + OdbcValue(text);
    }
    choice.target = odbc;
    return choice;
  }

  if (!driver.empty() || hasDsn || provider.empty() || StartsWithNoCase(provider, "MSDASQL")) {
    std::string odbc;
    for (const auto& [key, value] : pairs) {
      // Keys of the connection's own (provider, pooling) are not the driver's.
      if (platform::SameTextAscii(key, "Provider") || platform::SameTextAscii(key, "OLE DB Services") ||
          platform::SameTextAscii(key, "Pooling"))
        continue;
      if (!odbc.empty()) odbc += ";";
      odbc += key + "=" + OdbcValue(value);
    }
    choice.target = odbc;
    return choice;
  }
  throw EDataError("Provider cannot be found. It may not be properly installed. (" + provider + ")",
                   "IM002");
}

}  // namespace qar
