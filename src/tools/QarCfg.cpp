// QarCfg.exe: the administrator's command line for the connection string, the server
// settings and the requests in CTRLEXECREM.
#include <exception>
#include <sstream>

#include "platform/cmdline.h"
#include "state/shown_text.h"
#include "tools/qarcfg_commands.h"

int main(int argc, char** argv) {
  using qar::platform::ConsoleStream;
  using qar::platform::WriteToConsole;
  std::ostringstream out;
  std::ostringstream err;
  int code = 2;
  try {
    code = qar::tools::RunQarCfg(
        qar::platform::CommandLineArguments(argc, argv),
        [](std::string_view prompt) { return qar::platform::ReadStandardInput(prompt); }, out, err);
  } catch (const std::exception& error) {
    err << "QarCfg: " << qar::state::Quoted(error.what(), 2000) << '\n';
  }
  WriteToConsole(ConsoleStream::kOut, out.str());
  WriteToConsole(ConsoleStream::kError, err.str());
  return code;
}
