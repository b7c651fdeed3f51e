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
  bool service = false;   // run as the Windows service QarSncServe
};

// Parses "serve [--listen ADDR:PORT] [--token-file FILE] [--service]" (args[0] is "serve") and
// resolves ADDR (an address in any spelling, or a name). An IPv6 address is written
// in brackets, [::1]:8470. Raises EUsageError for a wrong form, an address that does
// not resolve, and one that resolves to a wildcard (0.0.0.0, ::, ::ffff:0.0.0.0 in
// any spelling): the page must be served on one address that the Host header is
// checked against.
TServeOptions ParseServeArguments(const std::vector<std::string>& args);

// A new random access token: 64 hex digits, which an address carries unchanged.
std::string MakeAccessToken();

// The token in `text`: its first line without surrounding blanks. Raises
// ECommandError, saying "the token in <where>", when it is shorter than 16 characters
// or holds anything but letters, digits and - . _ ~ (what an address carries unchanged).
std::string TokenOfText(const std::string& text, const std::string& where);

// The token in `file`, as TokenOfText reads it. Raises ECommandError as TokenOfText
// does, and when the file cannot be read or other users may read or write it.
std::string ReadTokenFile(const std::string& file);

// Runs `serve` until SIGINT/SIGTERM (Ctrl+C), or with --service until the Service
// Control Manager stops it; prints the address it serves first (a service writes it,
// and what ended it, to the event log). Returns the exit code.
int Serve(const std::vector<std::string>& args);

}  // namespace qar::tools
