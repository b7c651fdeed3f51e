// `QarCfg serve`: the status page over HTTP, for operators and support staff.
#pragma once

#include <string>
#include <vector>

namespace qar::tools {

struct TServeOptions {
  std::string host = "127.0.0.1";
  int port = 8470;
  std::string tokenFile;  // empty: no access token
};

// Parses "serve [--listen ADDR:PORT] [--token-file FILE]" (args[0] is "serve"). An
// IPv6 address is written in brackets, [::1]:8470. Raises EUsageError for a wrong
// form, for a wildcard address (0.0.0.0, ::), which no Host header can be checked
// against, and for an address other than loopback without --token-file: such a page
// is reachable from other machines and must not open without the operator's token.
TServeOptions ParseServeArguments(const std::vector<std::string>& args);

// True for 127.0.0.0/8, ::1 and localhost.
bool IsLoopbackHost(const std::string& host);

// The token in `file`: its first line without surrounding blanks. Raises
// ECommandError when the file cannot be read, or the token is shorter than 16
// characters or holds anything but printable ASCII.
std::string ReadTokenFile(const std::string& file);

// Runs `serve` until SIGINT/SIGTERM (Ctrl+C); prints the address it serves first.
// Returns the exit code.
int Serve(const std::vector<std::string>& args);

}  // namespace qar::tools
