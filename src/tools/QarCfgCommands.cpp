#include "tools/QarCfgCommands.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "config/GeralQar.h"
#include "data/ado_connection.h"
#include "data/data_error.h"
#include "tools/AdminSettings.h"
#include "tools/AgentStatusReport.h"
#include "tools/CommandError.h"
#include "tools/ControlRequests.h"

namespace qar::tools {

namespace {

using Args = std::vector<std::string>;

void ExpectArgumentCount(const Args& args, std::size_t count, const char* form) {
  if (args.size() < count) throw TUsageError(std::string("missing value: usage is QarCfg ") + form);
  if (args.size() > count) throw TUsageError(std::string("too many arguments: usage is QarCfg ") + form);
}

// One line, whatever the driver or system put into the text.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return text;
}

// The stored connection string, connected: what enqueue, cancel and list work through.
void ConnectStored(TADOConnection& connection) {
  std::string connectionString;
  try {
    connectionString = config::ReadConnectionString("");
  } catch (const std::exception& error) {
    throw TCommandError(std::string("the stored connection string cannot be read: ") + error.what());
  }
  if (connectionString.empty()) {
    throw TCommandError("no connection string is stored (QarCfg set-connection stores one)");
  }
  try {
    connection.SetConnectionString(connectionString);
    connection.Open();
  } catch (const EDataError& error) {
    throw TCommandError(std::string("the database cannot be reached: ") + error.what());
  }
}

std::int64_t ParseRequestId(const std::string& text) {
  std::int64_t id = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, id);
  // IDCTRLEXECREM is an INT.
  if (text.empty() || error != std::errc() || stop != end || id < 1 ||
      id > std::numeric_limits<std::int32_t>::max()) {
    throw TUsageError("the request id must be a whole number from 1 to 2147483647, not \"" + text + "\"");
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
    throw TCommandError(problems);
  }
  return 0;
}

int SetConnection(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 2, "set-connection \"<ADO connection string>\"");
  const std::vector<std::string> notes = StoreConnectionString(args[1]);
  out << config::kStringConexValue << " stored: " << MaskConnectionString(args[1]) << '\n';
  for (const std::string& note : notes) out << note << '\n';
  return 0;
}

int Set(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 3, "set <TunningID|SqlMonitor|SqlMonUser|TmpFileDir> <value>");
  const std::string name = StoreSetting(args[1], args[2]);
  out << name << " = " << args[2] << '\n';
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
      throw TUsageError("unknown option \"" + option + "\": usage is QarCfg " + kForm);
    }
    if (isFilial ? haveFilial : haveCaixa) throw TUsageError(option + " is given twice");
    if (i + 1 >= args.size()) throw TUsageError("missing value after " + option);
    (isFilial ? filial : caixa) = args[i + 1];
    (isFilial ? haveFilial : haveCaixa) = true;
  }
  if (!haveFilial || !haveCaixa) {
    throw TUsageError(std::string("missing ") + (haveFilial ? "--caixa" : "--filial") +
                      ": usage is QarCfg " + kForm);
  }
  SyncOperationText(filial, caixa);  // refuse bad values before touching the database

  TADOConnection connection;
  ConnectStored(connection);
  out << EnqueueSyncRequest(connection, filial, caixa) << '\n';
  return 0;
}

int Cancel(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 2, "cancel ID");
  const std::int64_t id = ParseRequestId(args[1]);
  TADOConnection connection;
  ConnectStored(connection);
  const std::string previous = CancelRequest(connection, id);
  out << "request " << id << ": status C (was " << (previous.empty() ? "empty" : previous) << ")\n";
  return 0;
}

int Status(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 1, "status");
  for (const std::string& line : DescribeAgent(FindRunningAgent())) out << line << '\n';
  TADOConnection connection;
  ConnectStored(connection);
  out << DescribeQueue(connection) << '\n';
  return 0;
}

int List(const Args& args, std::ostream& out) {
  ExpectArgumentCount(args, 1, "list");
  TADOConnection connection;
  ConnectStored(connection);
  std::vector<TRequestRow> rows = TodaysRequests(connection);
  const TRunningAgent agent = FindRunningAgent();
  for (TRequestRow& row : rows) {
    if (agent.ours && !agent.request.empty() && row.id == agent.request) row.status += " running";
  }
  for (const std::string& line : FormatRequestRows(rows)) out << line << '\n';
  return 0;
}

int Dispatch(const Args& args, std::ostream& out) {
  if (args.empty()) throw TUsageError("no command given (QarCfg help lists the commands)");
  const std::string& command = args[0];
  if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
    out << QarCfgUsage();
    return 0;
  }
  if (command == "show") return Show(args, out);
  if (command == "set-connection") return SetConnection(args, out);
  if (command == "set") return Set(args, out);
  if (command == "enqueue") return Enqueue(args, out);
  if (command == "cancel") return Cancel(args, out);
  if (command == "list") return List(args, out);
  if (command == "status") return Status(args, out);
  throw TUsageError("unknown command \"" + command + "\" (QarCfg help lists the commands)");
}

}  // namespace

std::string QarCfgUsage() {
  return "Usage: QarCfg <command>\n"
         "  set-connection \"<ADO connection string>\"\n"
         "        check that the database can be reached, then store the string encrypted\n"
         "  show  print the settings; the connection string with its password masked\n"
         "  set <TunningID|SqlMonitor|SqlMonUser|TmpFileDir> <value>\n"
         "        store a server setting (TunningID and SqlMonitor are whole numbers)\n"
         "  enqueue --filial X --caixa Y\n"
         "        request a synchronisation run in CTRLEXECREM and print its id\n"
         "  cancel ID\n"
         "        ask the agent to stop the run of request ID\n"
         "  list  print today's requests; the one the agent supervises is marked running\n"
         "  status\n"
         "        whether this installation's agent runs, what it supervises, and the queue\n"
         "  help  print this text\n"
         "Exit codes: 0 done, 1 the command failed, 2 the command line is wrong.\n";
}

int RunQarCfg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    return Dispatch(args, out);
  } catch (const TUsageError& error) {
    err << "QarCfg: " << OneLine(error.what()) << '\n';
    return 2;
  } catch (const std::exception& error) {
    err << "QarCfg: " << OneLine(error.what()) << '\n';
    return 1;
  }
}

}  // namespace qar::tools
