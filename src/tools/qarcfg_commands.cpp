#include "tools/qarcfg_commands.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>
#include <cstdint>
#include <limits>
#include <stdexcept>

#include "config/GeralQar.h"
#include "data/ado_connection.h"
#include "data/data_error.h"
#include "diagnostics/connection_mask.h"
#include "diagnostics/monitor_settings.h"
#include "platform/cmdline.h"
#include "platform/datetime.h"
#include "platform/private_file.h"
#include "platform/replace_file.h"
#include "state/command_error.h"
#include "state/control_requests.h"
#include "state/shown_text.h"
#include "tools/admin_settings.h"
#include "tools/agent_status_report.h"
#include "tools/metrics.h"
#include "tools/serve_command.h"
#include "tools/state_json.h"

namespace qar::tools {

using state::CancelRequest;
using state::CountQueue;
using state::ECommandError;
using state::EUsageError;
using state::EnqueueSyncRequest;
using state::InstallationDirectory;
using state::ListRequestsWithRuns;
using state::Printable;
using state::Quoted;
using state::ReadInstallationStatus;
using state::RunningRequests;
using state::SyncOperationText;
using state::TListedRequest;
using state::TStatusReport;

namespace {

constexpr const char* kQarVersion = QAR_VERSION;  // the project's version, set by the build

using Args = std::vector<std::string>;

void ExpectArgumentCount(const Args& args, std::size_t count, std::string_view form) {
  if (args.size() < count) throw EUsageError("missing value: usage is QarCfg " + std::string(form));
  if (args.size() > count) throw EUsageError("too many arguments: usage is QarCfg " + std::string(form));
}

std::string SetForm() { return "set <" + SettingNames("|") + "> <value>"; }

// What each setting takes, a line each under the usage of set.
std::string SettingsUsage() {
  std::string text = "        store a server setting, one of:\n";
  for (const std::string& range : SettingRanges()) text += "          " + range + "\n";
  return text;
}

// Longest message line: a driver's or the system's text can be long too.
constexpr std::size_t kMaxMessage = 2000;

struct TStreams {
  const std::function<std::string(std::string_view prompt)>& readInput;
  std::ostream& out;
};

// The stored connection string, connected: what enqueue, cancel and list work through.
// Only a requester (enqueue) may bring a missing embedded database into being, as it
// creates the control table; reading or cancelling never makes an empty one.
void ConnectStored(TADOConnection& connection, bool requester = false) {
  std::string connectionString;
  try {
    connectionString = config::ReadConnectionString("");
  } catch (const std::exception& error) {
    throw ECommandError("the stored connection string cannot be read from " + SettingsPlace() + ": " +
                        error.what());
  }
  if (connectionString.empty()) {
    throw ECommandError("no connection string is stored in " + SettingsPlace() +
                        " (QarCfg set-connection stores one)");
  }
  if (!requester) CheckEmbeddedDatabaseExists(connectionString);
  try {
    connection.SetConnectionString(connectionString);
    connection.Open();
  } catch (const EDataError& error) {
    throw ECommandError("the database " + DatabaseName(connectionString) + " cannot be reached: " +
                        error.what());
  }
}

// One limit for a value however it is given, so that what one way accepts the other does too.
void CheckInputLength(const std::string& text, const std::string& where) {
  if (text.size() > platform::kMaxInputCharacters) {
    throw EUsageError(where + " holds " + std::to_string(text.size()) + " characters; QarCfg takes at most " +
                      std::to_string(platform::kMaxInputCharacters) + " in one argument or on standard input");
  }
}

std::int64_t ParseRequestId(const std::string& text) {
  std::int64_t id = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, id);
  // IDCTRLEXECREM is an INT.
  if (text.empty() || error != std::errc() || stop != end || id < 1 ||
      id > std::numeric_limits<std::int32_t>::max()) {
    throw EUsageError("the request id must be a whole number from 1 to 2147483647, not \"" + Quoted(text) + "\"");
  }
  return id;
}

int Show(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 1, "show");
  const TSettingsReport report = DescribeSettings();
  for (const std::string& line : report.lines) out << line << '\n';
  if (!report.problems.empty()) {
    std::string problems;
    for (const std::string& problem : report.problems) problems += (problems.empty() ? "" : "; ") + problem;
    throw ECommandError(problems);
  }
  return 0;
}

int SetConnection(Args args, const TStreams& streams) {
  const auto option = std::find(args.begin() + 1, args.end(), "--create");
  const bool create = option != args.end();
  if (create) args.erase(option);
  ExpectArgumentCount(args, 2, "set-connection [--create] \"<ADO connection string>\" | -");
  std::string connectionString = args[1];
  if (connectionString == "-") {
    // Kept off the command line, where every user of the machine can read it.
    try {
      connectionString = streams.readInput("Connection string: ");
    } catch (const std::runtime_error& error) {
      throw EUsageError(error.what());  // too long, or not text: what was given is wrong
    }
    if (connectionString.ends_with('\n')) connectionString.pop_back();
    if (connectionString.ends_with('\r')) connectionString.pop_back();
    CheckInputLength(connectionString, "standard input");
    if (connectionString.empty()) throw EUsageError("standard input holds no connection string");
  }
  const std::vector<std::string> notes = StoreConnectionString(connectionString, create);
  std::ostream& out = streams.out;
  out << config::kStringConexValue << " stored: " << Printable(diagnostics::MaskConnectionString(connectionString)) << '\n';
  for (const std::string& note : notes) out << note << '\n';
  return 0;
}

int Set(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 3, SetForm());
  std::vector<std::string> notes;
  const std::string name = StoreSetting(args[1], args[2], &notes);
  out << name << " = " << Printable(args[2]) << '\n';
  for (const std::string& note : notes) out << note << '\n';
  return 0;
}

int Enqueue(const Args& args, std::ostream& out) {
  static constexpr const char* kForm = "enqueue --filial X --caixa Y";
  std::string filial;
  std::string caixa;
  bool haveFilial = false;
  bool haveCaixa = false;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string& option = args[i];
    const bool isFilial = option == "--filial";
    if (!isFilial && option != "--caixa") {
      throw EUsageError("unknown option \"" + Quoted(option) + "\": usage is QarCfg " + kForm);
    }
    if (isFilial ? haveFilial : haveCaixa) throw EUsageError(option + " is given twice");
    if (i + 1 >= args.size()) throw EUsageError("missing value after " + option);
    (isFilial ? filial : caixa) = args[i + 1];
    (isFilial ? haveFilial : haveCaixa) = true;
  }
  if (!haveFilial || !haveCaixa) {
    throw EUsageError(std::string("missing ") + (haveFilial ? "--caixa" : "--filial") +
                      ": usage is QarCfg " + kForm);
  }
  SyncOperationText(filial, caixa);  // refuse bad values before touching the database

  TADOConnection connection;
  ConnectStored(connection, /*requester=*/true);
  out << EnqueueSyncRequest(connection, filial, caixa) << '\n';
  return 0;
}

int Cancel(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 2, "cancel ID");
  const std::int64_t id = ParseRequestId(args[1]);
  TADOConnection connection;
  ConnectStored(connection);
  CancelRequest(connection, id);
  const std::string outcome =
      DescribeCancelOutcome(ReadInstallationStatus(InstallationDirectory(), state::TMoment::Now()), std::to_string(id));
  out << "request " << id << ": status C (was P); " << Printable(outcome) << '\n';
  return 0;
}

// Options of status and list: --json, and for list --since DATE and --status S.
struct TReportOptions {
  bool json = false;
  std::optional<platform::TDateTime> since;
  std::string status;
};

TReportOptions ParseReportOptions(const Args& args, bool listing) {
  const char* form = listing ? "list [--since YYYY-MM-DD] [--status S] [--json]" : "status [--json]";
  TReportOptions options;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--json") {
      options.json = true;
      continue;
    }
    if (!listing || (option != "--since" && option != "--status"))
      throw EUsageError("unknown option \"" + Quoted(option) + "\": usage is QarCfg " + form);
    if (++i >= args.size()) throw EUsageError("missing value after " + option);
    if (option == "--status") {
      options.status = args[i];
      continue;
    }
    platform::DateTimeParts date;
    int consumed = 0;
    if (std::sscanf(args[i].c_str(), "%4d-%2d-%2d%n", &date.year, &date.month, &date.day, &consumed) != 3 ||
        consumed != static_cast<int>(args[i].size()) || date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > 31)
      throw EUsageError("--since takes a date YYYY-MM-DD, not \"" + Quoted(args[i]) + "\"");
    options.since = platform::EncodeDateTime(date);
  }
  return options;
}

int Status(const Args& args, std::ostream& out) {
  const TReportOptions options = ParseReportOptions(args, false);
  TStatusReport report = ReadInstallationStatus(InstallationDirectory(), state::TMoment::Now());
  try {
    TADOConnection connection;
    ConnectStored(connection);
    report.queue = CountQueue(connection, RunningRequests(report));
  } catch (const std::exception& error) {
    report.queueError = error.what();
  }
  if (options.json) {
    out << StatusJson(report) << '\n';
  } else {
    for (const std::string& line : DescribeStatus(report)) out << Printable(line) << '\n';
  }
  return StatusExitCode(report);
}

int List(const Args& args, std::ostream& out) {
  const TReportOptions options = ParseReportOptions(args, true);
  TADOConnection connection;
  ConnectStored(connection);
  const std::vector<TListedRequest> requests = ListRequestsWithRuns(
      connection, ReadInstallationStatus(InstallationDirectory(), state::TMoment::Now()), options.since, options.status);
  if (options.json) {
    out << ListJson(requests) << '\n';
  } else {
    for (const std::string& line : FormatListedRequests(requests)) out << line << '\n';
  }
  return 0;
}

// The installation's metrics, printed or written at once into a file (a collector's).
int Metrics(const Args& args, std::ostream& out, std::ostream& err) {
  constexpr const char* kForm = "metrics [--output FILE]";
  std::string output;
  if (args.size() == 3 && args[1] == "--output" && !args[2].empty()) {
    output = args[2];
  } else if (args.size() != 1) {
    throw EUsageError(std::string("usage is QarCfg ") + kForm);
  }
  std::string connectionString;
  try {
    connectionString = config::ReadConnectionString("");
  } catch (const std::exception& error) {
    err << "QarCfg: warning: the stored connection string cannot be read from " << SettingsPlace() << ": "
        << Quoted(error.what(), kMaxMessage) << '\n';
  }
  const TMetricsSnapshot snapshot =
      CollectMetrics({connectionString, InstallationDirectory(), diagnostics::GetTmpFileDir()});
  // The metrics say what is down; the reason goes to the administrator's console or journal.
  for (const std::string& problem : snapshot.problems) err << "QarCfg: warning: " << Quoted(problem, kMaxMessage) << '\n';
  const std::string text = FormatMetrics(snapshot);
  if (output.empty()) {
    out << text;
    return 0;
  }
  try {
    platform::ReplaceFileContent(output, text);
  } catch (const std::exception& error) {
    throw ECommandError(error.what());
  }
  return 0;
}

// The access token of serve --token-file (the service's) in a file of its own: a new
// random one, or with - the one on standard input (head office's).
int NewToken(Args args, const TStreams& streams) {
  constexpr const char* kForm = "new-token [--replace] FILE [-]";
  const auto option = std::find(args.begin() + 1, args.end(), "--replace");
  const bool replace = option != args.end();
  if (replace) args.erase(option);
  const bool given = args.size() == 3 && args[2] == "-";
  if (args.size() != (given ? 3u : 2u) || args[1].empty() || args[1].front() == '-')
    throw EUsageError(std::string("usage is QarCfg ") + kForm);
  const std::string token = given ? TokenOfText(streams.readInput("Access token: "), "standard input") : MakeAccessToken();
  bool made = false;
  try {
    made = platform::CreatePrivateFile(args[1], token + "\n", replace);
  } catch (const std::runtime_error& error) {
    throw ECommandError(error.what());
  }
  if (!made) throw ECommandError(Quoted(args[1]) + " exists and is kept (--replace puts the new token in its place)");
  streams.out << (given ? "the token given" : "a new access token") << " is in " << Printable(args[1]) << '\n';
  return 0;
}

int Dispatch(const Args& args, const TStreams& streams, std::ostream& err) {
  std::ostream& out = streams.out;
  if (args.empty()) throw EUsageError("no command given (QarCfg help lists the commands)");
  for (std::size_t i = 0; i < args.size(); ++i) CheckInputLength(args[i], "argument " + std::to_string(i + 1));
  const std::string& command = args[0];
  if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
    out << QarCfgUsage();
    return 0;
  }
  if (command == "--version") {
    out << "QarCfg " << kQarVersion << '\n';
    return 0;
  }
  if (command == "show") return Show(args, out);
  if (command == "set-connection") return SetConnection(args, streams);
  if (command == "set") return Set(args, out);
  if (command == "enqueue") return Enqueue(args, out);
  if (command == "cancel") return Cancel(args, out);
  if (command == "list") return List(args, out);
  if (command == "status") return Status(args, out);
  if (command == "serve") return Serve(args);
  if (command == "metrics") return Metrics(args, out, err);
  if (command == "new-token") return NewToken(args, streams);
  throw EUsageError("unknown command \"" + Quoted(command) + "\" (QarCfg help lists the commands)");
}

}  // namespace

std::string QarCfgUsage() {
  return "Usage: QarCfg <command>\n"
         "  set-connection [--create] \"<ADO connection string>\" | -\n"
         "        check that the database can be reached, then store the string encrypted;\n"
         "        with -, read it from standard input (keeps a password out of the process list);\n"
         "        --create makes a missing SQLite database file (mode 0660, group qarsnc)\n"
         "  show  print the settings; the connection string with its password masked\n"
         "  set <setting> <value>\n" + SettingsUsage() +
         "  enqueue --filial X --caixa Y\n"
         "        request a synchronisation run in CTRLEXECREM and print its id\n"
         "  cancel ID\n"
         "        ask the agent to stop the run of request ID, and say what will happen\n"
         "  list [--since YYYY-MM-DD] [--status S] [--json]\n"
         "        print today's requests and the expired pending ones of earlier days (or those\n"
         "        inserted since the date; only those of status S, or \"running\"), with their\n"
         "        runs: how many, how long, how the last one ended\n"
         "  status [--json]\n"
         "        every agent of this installation, whatever its user: its last poll, last\n"
         "        error and the worker it supervises; workers left running; the queue.\n"
         "        Exit code 0 when an agent runs, 3 when none does, 4 when that cannot be read\n"
         "  serve [--listen ADDR:PORT] [--token-file FILE] [--service]\n"
         "        serve the status page (default 127.0.0.1:8470) to those with its access\n"
         "        token: the one in FILE (yours alone), else a new one, printed in the page's\n"
         "        address and kept in a file only you can read; --service: as the Windows\n"
         "        service QarSncServe, which the installer registers\n"
         "  new-token [--replace] FILE [-]\n"
         "        write a new random access token for serve, or with - the one on standard\n"
         "        input, into the new FILE (with --replace, in place of FILE at once), which\n"
         "        only you may read (POSIX: mode 0600; Windows: you, the system and the\n"
         "        administrators, and NETWORK SERVICE, the account of the service)\n"
         "  metrics [--output FILE]\n"
         "        print the installation's metrics in the Prometheus text format (those of\n"
         "        serve's /metrics); with --output, write them into FILE at once (a new file\n"
         "        beside it, renamed over it) for a textfile collector\n"
         "  help  print this text\n"
         "  --version  print the version\n"
         "An argument, or standard input, holds at most " +
         std::to_string(platform::kMaxInputCharacters) +
         " characters.\n"
         "Exit codes: 0 done, 1 the command failed, 2 the command line is wrong.\n";
}

int RunQarCfg(const std::vector<std::string>& args, const std::function<std::string(std::string_view prompt)>& readInput,
              std::ostream& out, std::ostream& err) {
  try {
    return Dispatch(args, TStreams{readInput, out}, err);
  } catch (const EUsageError& error) {
    err << "QarCfg: " << Quoted(error.what(), kMaxMessage) << '\n';
    return 2;
  } catch (const std::exception& error) {
    err << "QarCfg: " << Quoted(error.what(), kMaxMessage) << '\n';
    return 1;
  }
}

int RunQarCfg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RunQarCfg(args, [](std::string_view) { return std::string(); }, out, err);
}

}  // namespace qar::tools
