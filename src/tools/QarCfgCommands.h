// QarCfg's commands: the administrator's command line, callable in-process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qar::tools {

// Runs one QarCfg command line (the arguments after the program name, ANSI text):
//   help | show | set-connection "<ADO connection string>" | set NAME VALUE
//   enqueue --filial X --caixa Y | cancel ID | list | status
// Writes results to `out` and, on failure, one line "QarCfg: <problem>" to `err`.
// Returns the exit code: 0 done, 1 the command failed, 2 the command line is wrong.
// A failed command leaves the registry as it was.
int RunQarCfg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text that `help` prints.
std::string QarCfgUsage();

}  // namespace qar::tools
