#include "tools/serve_command.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <thread>

#include "config/GeralQar.h"
#include "diagnostics/monitor_settings.h"
#include "platform/cmdline.h"
#include "platform/datetime.h"
#include "platform/module.h"
#include "platform/net_address.h"
#include "platform/private_file.h"
#include "platform/random.h"
#include "platform/service.h"
#include "platform/stop_request.h"
#include "platform/systemlog.h"
#include "state/command_error.h"
#include "state/shown_text.h"
#include "state/state_store.h"
#include "tools/admin_settings.h"
#include "tools/agent_status_report.h"
#include "tools/http_server.h"
#include "tools/metrics.h"
#include "tools/status_site.h"

namespace qar::tools {

using state::ECommandError;
using state::EUsageError;
using state::InstallationDirectory;
using state::Quoted;

namespace {

constexpr const char* kForm = "serve [--listen ADDR:PORT] [--token-file FILE] [--service]";
constexpr const char* kServiceName = "QarSncServe";  // the installer's name for it
constexpr std::size_t kMinTokenLength = 16;
constexpr std::size_t kMadeTokenBytes = 32;  // 64 hex characters

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

struct TRemovedAtEnd {
  std::string file;
  ~TRemovedAtEnd() {
    std::error_code ignored;
    if (!file.empty()) std::filesystem::remove(platform::ToNativePath(file), ignored);
  }
};

std::string ReportFile() { return platform::ExtractFilePath(platform::ExecutableFileName()) + "tr_report.txt"; }

}  // namespace

TServeOptions ParseServeArguments(const std::vector<std::string>& args) {
  TServeOptions options;
  bool listen = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--service") {
      if (options.service) throw EUsageError("--service is given twice");
      options.service = true;
      continue;
    }
    if (option != "--listen" && option != "--token-file")
      throw EUsageError("unknown option \"" + Quoted(option) + "\": usage is QarCfg " + kForm);
    if (++i >= args.size()) throw EUsageError("missing value after " + option);
    if (option == "--listen") {
      if (listen) throw EUsageError("--listen is given twice");
      ParseListen(args[i], options);
      listen = true;
    } else {
      if (!options.tokenFile.empty()) throw EUsageError("--token-file is given twice");
      if (args[i].empty()) throw EUsageError("--token-file takes a file name");
      options.tokenFile = args[i];
    }
  }
  // Resolved first, so that no spelling of an address ("0", "0.0.0.00", "[0::0]") or
  // name passes for what its text looks like.
  std::vector<platform::TResolvedAddress> addresses;
  try {
    addresses = platform::ResolveAddresses(options.host);
  } catch (const std::runtime_error& error) {
    throw EUsageError(std::string("--listen: ") + error.what());
  }
  for (const platform::TResolvedAddress& address : addresses) {
    if (address.unspecified) {
      throw EUsageError("listen on one address of this machine, not on every address (" + Quoted(options.host) +
                        " is " + address.numeric + "): the page checks that the Host header names the address it listens on");
    }
  }
  options.address = addresses.front().numeric;
  return options;
}

std::string MakeAccessToken() { return platform::RandomHex(kMadeTokenBytes); }

std::string TokenOfText(const std::string& text, const std::string& where) {
  const std::string line = text.substr(0, text.find('\n'));
  const std::size_t first = line.find_first_not_of(" \t\r");
  const std::size_t last = line.find_last_not_of(" \t\r");
  const std::string token = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
  if (token.size() < kMinTokenLength) {
    throw ECommandError("the token in " + where + " is shorter than " + std::to_string(kMinTokenLength) +
                        " characters: QarCfg new-token --replace FILE makes a random one");
  }
  for (const char c : token) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_' && c != '~') {
      throw ECommandError("the token in " + where +
                          " holds a character that an address would change (such as + / =): use letters, digits"
                          " and - . _ ~ only (QarCfg new-token --replace FILE makes one)");
    }
  }
  return token;
}

std::string ReadTokenFile(const std::string& file) {
  std::string text;
  try {
    text = platform::ReadPrivateFile(file, 4096);
  } catch (const std::runtime_error& error) {
    throw ECommandError(std::string("the token file is refused: ") + error.what() +
                        " (QarCfg new-token --replace FILE makes one that serve takes)");
  }
  return TokenOfText(text, Quoted(file, 200));
}

namespace {

int ServeUntilStopped(const TServeOptions& options) {
  const bool madeToken = options.tokenFile.empty();
  const std::string token = madeToken ? MakeAccessToken() : ReadTokenFile(options.tokenFile);

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
  sources.metrics = [connectionString, installation = sources.installation] {
    return FormatMetrics(CollectMetrics({connectionString, installation, diagnostics::GetTmpFileDir()}));
  };
  // Beside the installation's logs: who cancelled what from the page, and when.
  sources.cancelLog = diagnostics::GetTmpFileDir() + "QarCfg_Cancels.log";
  sources.settings = [] {
    TSettingsReport report = DescribeSettings();
    return std::pair{report.lines, report.problems};
  };

  platform::CatchStopSignals();
  std::unique_ptr<TStatusSite> site;
  THttpServer server([&site](const THttpRequest& request) { return site->Handle(request); }, THttpLimits{});
  const int port = server.Listen(options.address, options.port);
  TServedOrigin origin{{options.address}, port};
  if (options.host != options.address) origin.hosts.push_back(options.host);
  origin.hosts.emplace_back("localhost");
  site = std::make_unique<TStatusSite>(std::move(sources), origin, token);

  // A made token is kept where only this user can read it, for the user's scripts,
  // and goes when the page does.
  TRemovedAtEnd madeFile;
  if (madeToken) {
    try {
      madeFile.file = platform::WritePrivateFile("qarcfg-serve-" + std::to_string(port) + ".token", token + "\n");
    } catch (const std::runtime_error& error) {
      throw ECommandError(std::string("the access token cannot be kept: ") + error.what());
    }
  }
  const std::string& tokenPlace = madeToken ? madeFile.file : options.tokenFile;
  const std::string serving = "serving the status page on " + origin.Url();
  platform::WriteToConsole(platform::ConsoleStream::kOut,
                           "QarCfg: " + serving + (madeToken ? "?token=" + token : "") + " (Ctrl+C stops); its access token is " +
                               (madeToken ? "kept in " : "the one in ") + tokenPlace + "\n");
  if (options.service) platform::WriteSystemLog(kServiceName, platform::LogLevel::kInfo, serving + " with the token in " + tokenPlace);
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

}  // namespace

int Serve(const std::vector<std::string>& args) {
  if (std::find(args.begin(), args.end(), "--service") == args.end()) return ServeUntilStopped(ParseServeArguments(args));
  // Nobody reads a service's console: why it ends, a wrong address in its command line
  // too, goes to the event log.
  return platform::RunAsService(kServiceName, [&args] {
    try {
      return ServeUntilStopped(ParseServeArguments(args));
    } catch (const std::exception& error) {
      platform::WriteSystemLog(kServiceName, platform::LogLevel::kError, std::string("QarCfg serve: ") + error.what());
      throw;
    }
  });
}

}  // namespace qar::tools
