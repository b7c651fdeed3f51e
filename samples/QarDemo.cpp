// QarDemo.exe: the demonstration client. It calls the sales data module (dmVendas.cpp)
// in process as a remote client calls it, with each kind of caller identity, prints
// every call and its result, then shows where the automation layer wrote the monitor
// log, the error log and tr_report.txt, with their last entries. demo.vbs makes the
// same calls through COM on Windows and prints the same lines.
//
//   QarDemo.exe              the calls
//   QarDemo.exe --setup      creates PEDIDO and SQLWEBTUNNING in the database of the stored
//                            connection string when missing, and puts the demo orders back
//   QarDemo.exe --rounds N   N rounds of the calls as a busy client makes them, beside
//                            others on the same database; prints each call that failed
#include <algorithm>
#include <charconv>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "automation/VCLCom.h"
#include "com/dispatch_client.h"
#include "config/GeralQar.h"
#include "data/ado_connection.h"
#include "data/data_error.h"
#include "data/data_packet.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics/monitor_settings.h"
#include "platform/cmdline.h"
#include "platform/module.h"
#include "platform/text.h"

namespace {

using namespace qar;

void Print(std::string_view ansi) { platform::WriteToConsole(platform::ConsoleStream::kOut, ansi); }

void SetUpDatabase() {
  TADOConnection connection;
  connection.SetConnectionString(config::GetConnectionString(config::kDefaultDatabaseKey));
  // Probing keeps the statements plain SQL, so the setup also runs on SQL Server.
  const auto createIfMissing = [&](const std::string& table, const std::string& columns) {
    try {
      connection.Execute("select count(*) from " + table);
    } catch (const EDataError&) {
      connection.Execute("create table " + table + " (" + columns + ")");
    }
  };
  createIfMissing("PEDIDO", "ID INT PRIMARY KEY, CLIENTE VARCHAR(40) NOT NULL, SITUACAO CHAR(1) NOT NULL");
  // The table the layer registers its callers' sessions in; it never creates it.
  createIfMissing("SQLWEBTUNNING",
                  "NRSID INT, NRAUDSID INT, DSREMOTEADDR VARCHAR(15), DSREMOTEHOST VARCHAR(15), "
                  "DSREMOTEAPPL VARCHAR(10), DSREMOTEOPER VARCHAR(12), DSSERVERRDM VARCHAR(20), "
                  "DSSERVERDLL VARCHAR(15), DSSERVMETHOD VARCHAR(30), NRSERVERDID INT, DTSTARTDATE DATETIME");
  connection.Execute("delete from SQLWEBTUNNING");
  connection.Execute("delete from PEDIDO");
  connection.Execute(
      "insert into PEDIDO (ID, CLIENTE, SITUACAO) values "
      "(41, 'Padaria Central', 'A'), (42, 'Mercado Sao Jorge', 'A'), (43, 'Bar do Porto', 'A')");
  Print("Demo database ready: tables PEDIDO (orders 41, 42 and 43) and SQLWEBTUNNING\n");
}

// A caller identity as a client puts it in front of a method's arguments: the marker
// "«#»" (host and application) or "«$»" (with the operator, and a database key when
// all 46 characters are there), then fixed-width fields from the caller's IPv4
// address, one character per byte.
std::string Identity(char marker, std::string_view operatorName = {}, std::string_view key = {}) {
  const auto padded = [](std::string_view text, std::size_t width) {
    return std::string(text) + std::string(width - text.size(), ' ');
  };
  std::string text = std::string("\xAB") + marker + "\xBB" + "\xC0\xA8\x01\x14" + padded("PDV01", 15) + padded("CAIXA", 10);
  if (key.empty()) return text + std::string(operatorName);
  return text + padded(operatorName, 12) + padded(key, 5);
}

struct TDemoCall {
  std::string label;
  std::string method;
  std::vector<Variant> args;
  bool fails = false;  // the call is meant to fail
};

// An order list as "41 A Padaria Central; 42 ...", other results as their text.
std::string ResultText(const Variant& result) {
  if (result.ArrayItems().empty()) return result.AsString();
  std::string text;
  for (const std::vector<Variant>& row : ReadDataPacket(result).Rows)
    text += (text.empty() ? "" : "; ") + row[0].AsString() + " " + row[2].AsString() + " " + row[1].AsString();
  return text;
}

// Runs the calls; returns how many ended otherwise than meant.
int RunCalls() {
  const std::string maria = Identity('$', "MARIA");
  const std::vector<TDemoCall> calls = {
      {"ListaPedidos()", "ListaPedidos", {}},
      {"SessoesAtivas() without identity", "SessoesAtivas", {}},
      {"SessoesAtivas() as PDV01/CAIXA (kind 3)", "SessoesAtivas", {Identity('#')}},
      {"SessoesAtivas() as MARIA (kind 4)", "SessoesAtivas", {maria}},
      {"SessoesAtivas() as GERENTE, database 211 (kind 5)", "SessoesAtivas", {Identity('$', "GERENTE", "211")}},
      {"AbrePedido(43) as MARIA (kind 4)", "AbrePedido", {maria, 43}},
      {"FalhaPedido() as JOAO (kind 4)", "FalhaPedido", {Identity('$', "JOAO")}, true},
      {"GravaPedido(\"F\", 42) as MARIA (kind 4)", "GravaPedido", {maria, "F", 42}},
      {"ListaPedidos()", "ListaPedidos", {}},
  };
  TComPtr<com::IDispatch> server = com::CreateOleObject("QarDemo.Vendas");
  int unexpected = 0;
  for (const TDemoCall& call : calls) {
    std::string outcome;
    bool failed = false;
    try {
      outcome = ResultText(com::CallByName(*server, call.method, call.args));
    } catch (const std::exception& error) {
      outcome = std::string("error: ") + error.what();
      failed = true;
    }
    if (failed != call.fails) ++unexpected;
    Print(call.label + " -> " + outcome + "\n");
  }
  return unexpected;
}

// N rounds of the calls of an identified client: each reads the orders, its session, sets
// two orders in one transaction, leaves one open (rolled back by the layer) and sets
// another order; order 43 ends as the committed calls left it ("A"). Prints every call
// that failed and a count; returns how many failed.
int RunRounds(int rounds) {
  const std::string maria = Identity('$', "MARIA");
  const std::vector<TDemoCall> round = {
      {"ListaPedidos()", "ListaPedidos", {}},
      {"SessoesAtivas()", "SessoesAtivas", {maria}},
      {"GravaPedidos(\"A\", 41, 43)", "GravaPedidos", {maria, "A", 41, 43}},
      {"AbrePedido(43)", "AbrePedido", {maria, 43}},
      {"GravaPedido(\"F\", 42)", "GravaPedido", {maria, "F", 42}},
  };
  TComPtr<com::IDispatch> server = com::CreateOleObject("QarDemo.Vendas");
  int failed = 0;
  for (int r = 1; r <= rounds; ++r) {
    for (const TDemoCall& call : round) {
      try {
        com::CallByName(*server, call.method, call.args);
      } catch (const std::exception& error) {
        ++failed;
        Print("round " + std::to_string(r) + ", " + call.label + " -> error: " + error.what() + "\n");
      }
    }
  }
  Print(std::to_string(rounds) + " rounds of " + std::to_string(round.size()) + " calls: " + std::to_string(failed) +
        " failed\n");
  return failed;
}

// The text from the last line that opens an entry (all of it when none does).
std::string LastEntry(const std::string& text, bool (*opens)(std::string_view previous, std::string_view line)) {
  std::size_t start = 0;
  std::string_view previous;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find("\r\n", at), text.size());
    const std::string_view line(text.data() + at, end - at);
    if (opens(previous, line)) start = at;
    previous = line;
    at = end + 2;
  }
  return text.substr(start);
}

void ShowFile(const std::string& title, const std::string& path,
              bool (*opens)(std::string_view previous, std::string_view line)) {
  std::ifstream in(platform::ToNativePath(path), std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  Print("\n" + title + ": " + path + (text.empty() ? " (nothing written)\n" : "\n"));
  std::string entry = LastEntry(text, opens);
  std::erase(entry, '\r');
  Print(entry);
}

void ShowWhatTheLayerWrote() {
  // In MARIA's monitor log each connect opens with a banner of 90 "="; an error-log
  // entry opens with eight "-" after a blank line, a later report entry with "=".
  const auto connectBanner = [](std::string_view, std::string_view line) {
    return line == std::string(90, '=');
  };
  const auto entryAfterBlankLine = [](std::string_view previous, std::string_view line) {
    return platform::TrimControl(previous).empty() && line.starts_with("========");
  };
  const auto errorEntry = [](std::string_view previous, std::string_view line) {
    return previous.empty() && line == "--------";
  };
  diagnostics::IsSqlMonitorOn();  // reads the level
  ShowFile("Monitor log of MARIA (since the last connect)",
           diagnostics::BuildLogFileName(diagnostics::SqlMonitorLevel(), "MARIA", "CAIXA", "PDV01", false),
           connectBanner);
  ShowFile("Error log (last entry)", diagnostics::BuildLogFileName(1, "", "", "", true), errorEntry);
  ShowFile("Open transactions (last report)",
           platform::ExtractFilePath(platform::ExecutableFileName()) + "tr_report.txt", entryAfterBlankLine);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args = platform::CommandLineArguments(argc, argv);
    automation::InitializeVCLCom();
    config::InitializeGeralQar();
    if (args.size() == 1 && args[0] == "--setup") {
      SetUpDatabase();
      return 0;
    }
    if (args.size() == 2 && args[0] == "--rounds") {
      int rounds = 0;
      const char* const end = args[1].data() + args[1].size();
      const auto [stop, error] = std::from_chars(args[1].data(), end, rounds);
      if (error == std::errc() && stop == end && rounds > 0) return RunRounds(rounds) == 0 ? 0 : 1;
    }
    if (!args.empty()) {
      platform::WriteToConsole(platform::ConsoleStream::kError, "usage: QarDemo.exe [--setup | --rounds N]\n");
      return 2;
    }
    const int unexpected = RunCalls();
    ShowWhatTheLayerWrote();
    return unexpected == 0 ? 0 : 1;
  } catch (const std::exception& error) {
    platform::WriteToConsole(platform::ConsoleStream::kError, std::string("QarDemo: ") + error.what() + "\n");
    return 2;
  }
}
