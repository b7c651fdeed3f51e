// `QarCfg serve`: the status page over HTTP, for operators and support staff.
#pragma once

#include <string>
#include <vector>

namespace qar::tools {

struct TServeOptions {
  std::string host = "127.0.0.1";     // as given: an address or a name
  std::string address = "127.0.0.1";  // the numeric address it resolved to, which is bound
  int port = 8470;
  std::string tokenFile;  // empty: a token is made at start
};

// Parses "serve [--listen ADDR:PORT] [--token-file FILE]" (args[0] is "serve") and
// resolves ADDR (an address in any spelling, or a name). An IPv6 address is written
// in brackets, [::1]:8470. Raises EUsageError for a wrong form, an address that does
// not resolve, and one that resolves to a wildcard (0.0.0.0, ::, ::ffff:0.0.0.0 in
// any spelling): the page must be served on one address that the Host header is
// checked against.
TServeOptions ParseServeArguments(const std::vector<std::string>& args);

// The token in `file`: its first line without surrounding blanks. Raises
// ECommandError when the file cannot be read, when other users may read or write it,
// or when the token is shorter than 16 characters or holds anything but letters,
// digits and - . _ ~ (the characters an address carries unchanged).
std::string ReadTokenFile(const std::string& file);

// Runs `serve` until SIGINT/SIGTERM (Ctrl+C); prints the address it serves first.
// Returns the exit code.
int Serve(const std::vector<std::string>& args);

}  // namespace qar::tools
