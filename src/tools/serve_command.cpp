#include "tools/serve_command.h"

#include <charconv>
#include <fstream>
#include <thread>

#include "config/GeralQar.h"
#include "diagnostics/monitor_settings.h"
#include "platform/cmdline.h"
#include "platform/datetime.h"
#include "platform/module.h"
#include "platform/stop_request.h"
#include "state/command_error.h"
#include "state/shown_text.h"
#include "state/state_store.h"
#include "tools/admin_settings.h"
#include "tools/agent_status_report.h"
#include "tools/http_server.h"
#include "tools/status_site.h"

namespace qar::tools {

using state::ECommandError;
using state::EUsageError;
using state::InstallationDirectory;
using state::Quoted;

namespace {

constexpr const char* kForm = "serve [--listen ADDR:PORT] [--token-file FILE]";
constexpr std::size_t kMinTokenLength = 16;

void ParseListen(const std::string& text, TServeOptions& options) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    throw EUsageError("--listen takes ADDR:PORT, such as 127.0.0.1:8470, not \"" + Quoted(text) + "\"");
  }
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') throw EUsageError("an IPv6 address is written [ADDR]:PORT, not \"" + Quoted(text) + "\"");
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    throw EUsageError("an IPv6 address is written [ADDR]:PORT, not \"" + Quoted(text) + "\"");
  }
  const std::string port = text.substr(colon + 1);
  int value = -1;
  const auto [stop, error] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || error != std::errc() || stop != port.data() + port.size() || value < 0 || value > 65535) {
    throw EUsageError("the port must be a whole number from 0 to 65535, not \"" + Quoted(port) + "\"");
  }
  options.host = host;
  options.port = value;
}

std::string ReportFile() { return platform::ExtractFilePath(platform::ExecutableFileName()) + "tr_report.txt"; }

}  // namespace

bool IsLoopbackHost(const std::string& host) {
  return host.starts_with("127.") || host == "::1" || host == "localhost";
}

TServeOptions ParseServeArguments(const std::vector<std::string>& args) {
  TServeOptions options;
  bool listen = false;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string& option = args[i];
    if (option != "--listen" && option != "--token-file")
      throw EUsageError("unknown option \"" + Quoted(option) + "\": usage is QarCfg " + kForm);
    if (i + 1 >= args.size()) throw EUsageError("missing value after " + option);
    if (option == "--listen") {
      if (listen) throw EUsageError("--listen is given twice");
      ParseListen(args[i + 1], options);
      listen = true;
    } else {
      if (!options.tokenFile.empty()) throw EUsageError("--token-file is given twice");
      if (args[i + 1].empty()) throw EUsageError("--token-file takes a file name");
      options.tokenFile = args[i + 1];
    }
  }
  if (options.host == "0.0.0.0" || options.host == "::") {
    throw EUsageError("listen on one address of this machine, not on every address (" + options.host +
                      "): the page checks that the Host header names the address it listens on");
  }
  if (!IsLoopbackHost(options.host) && options.tokenFile.empty()) {
    throw EUsageError("listening on " + Quoted(options.host) +
                      " makes the page reachable from other machines: give --token-file FILE with a random "
                      "token of at least 16 characters that every request must carry");
  }
  return options;
}

std::string ReadTokenFile(const std::string& file) {
  std::ifstream in(platform::ToNativePath(file), std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) throw ECommandError("the token file " + Quoted(file, 200) + " cannot be read");
  const std::size_t first = line.find_first_not_of(" \t\r");
  const std::size_t last = line.find_last_not_of(" \t\r");
  const std::string token = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
  if (token.size() < kMinTokenLength) {
    throw ECommandError("the token in " + Quoted(file, 200) + " is shorter than " + std::to_string(kMinTokenLength) +
                        " characters: make a random one");
  }
  for (const char c : token) {
    if (c < '!' || c > '~') throw ECommandError("the token in " + Quoted(file, 200) + " holds a character that is not printable ASCII");
  }
  return token;
}

int Serve(const std::vector<std::string>& args) {
  const TServeOptions options = ParseServeArguments(args);
  std::optional<std::string> token;
  if (!options.tokenFile.empty()) token = ReadTokenFile(options.tokenFile);

  std::string connectionString;
  try {
    connectionString = config::ReadConnectionString("");
  } catch (const std::exception& error) {
    throw ECommandError("the stored connection string cannot be read from " + SettingsPlace() + ": " + error.what());
  }
  if (connectionString.empty()) {
    throw ECommandError("no connection string is stored in " + SettingsPlace() + " (QarCfg set-connection stores one)");
  }

  TStatusSources sources;
  sources.connectionString = connectionString;
  sources.installation = InstallationDirectory();
  sources.todaysLogEntries = [] {
    return ReadTodaysLogEntries(diagnostics::GetTmpFileDir(), ReportFile(),
                                platform::FormatDateTime("yyyymmdd", platform::Now()));
  };
  sources.settings = [] {
    TSettingsReport report = DescribeSettings();
    return std::pair{report.lines, report.problems};
  };

  platform::CatchStopSignals();
  std::unique_ptr<TStatusSite> site;
  THttpServer server([&site](const THttpRequest& request) { return site->Handle(request); }, THttpLimits{});
  const int port = server.Listen(options.host, options.port);
  site = std::make_unique<TStatusSite>(std::move(sources), options.host, port, token);

  const std::string shownHost = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  platform::WriteToConsole(platform::ConsoleStream::kOut, "QarCfg: serving the status page on http://" + shownHost + ":" +
                                                              std::to_string(port) + "/ (Ctrl+C stops)\n");
  std::thread stopper([&server] {
    while (!platform::WaitForStop(std::chrono::milliseconds(500))) {
    }
    server.Stop();
  });
  const bool served = server.Serve();
  if (!platform::StopRequested()) platform::RequestStop(served ? 0 : 1, "the server ended");
  stopper.join();
  if (!served && platform::StopExitCode() == 1) throw ECommandError("the server stopped serving");
  return 0;
}

}  // namespace qar::tools
