// QarCfg's commands: the administrator's command line, callable in-process.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qar::tools {

// Runs one QarCfg command line (the arguments after the program name, ANSI text):
//   help | --version | show | set-connection [--create] "<ADO connection string>" | - |
//   set NAME VALUE | enqueue --filial X --caixa Y | cancel ID | list | status | serve ... |
//   metrics [--output FILE] | new-token [--replace] FILE [-]
// `readInput(prompt)` gives standard input's text (asked only by set-connection - and
// new-token FILE -; a terminal shows `prompt`). Writes results to `out` and, on
// failure, one line "QarCfg: <problem>" to `err`; whatever is printed has its control
// characters escaped. Returns the exit code: 0 done, 1 the command failed, 2 the
// command line is wrong. A failed command leaves the registry as it was.
int RunQarCfg(const std::vector<std::string>& args, const std::function<std::string(std::string_view prompt)>& readInput,
              std::ostream& out, std::ostream& err);
// The same with nothing on standard input.
int RunQarCfg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text that `help` prints.
std::string QarCfgUsage();

}  // namespace qar::tools
