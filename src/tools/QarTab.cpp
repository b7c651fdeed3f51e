// QarTab.exe: the stand-in synchronisation worker for tests and demonstrations.
//
// The agent starts it with one parameter string "SYNC_<id>_<branch>_<till>_". It
// takes its settings from "QarTab.cfg" beside its own executable (key=value lines):
//   log=<file>          where it appends one line per run (default QarTab.log beside it)
//   seconds=<n>         how long it works (default 0)
//   hold=<file>         it works while <file> exists (at most ten minutes), so a
//                       test ends it by removing the file
//   status=<text>       the status it writes into its row when it ends (default: none)
//   connection=<text>   the ADO connection string (default: the agent's stored one)
// It holds no database connection while it works, so it can be killed at any time.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "config/GeralQar.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

constexpr char kConfigFileName[] = "QarTab.cfg";
constexpr char kLogFileName[] = "QarTab.log";

using Settings = std::map<std::string, std::string>;

Settings ReadSettings(const std::string& file) {
  Settings settings;
  std::ifstream in(qar::platform::ToNativePath(file));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    settings[qar::platform::TrimControl(line.substr(0, eq))] = qar::platform::TrimControl(line.substr(eq + 1));
  }
  return settings;
}

std::string Setting(const Settings& settings, const std::string& name, const std::string& fallback) {
  const auto found = settings.find(name);
  return found == settings.end() ? fallback : found->second;
}

// The row id: the digits after "SYNC_"; empty when the parameter has no such form.
std::string RowId(const std::string& parameter) {
  const std::string prefix = "SYNC_";
  if (parameter.rfind(prefix, 0) != 0) return {};
  const std::size_t end = parameter.find('_', prefix.size());
  const std::string id = parameter.substr(prefix.size(), end - prefix.size());
  if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) return {};
  return id;
}

void AppendLog(const std::string& file, const std::string& line) {
  std::ofstream out(qar::platform::ToNativePath(file), std::ios::app | std::ios::binary);
  out << line << '\n';
  out.flush();
  if (!out) throw std::runtime_error("cannot append to " + file);
}

void WriteStatus(const std::string& connectionString, const std::string& id, const std::string& status) {
  qar::TADOConnection connection;
  connection.SetConnectionString(connectionString);
  qar::TADOCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(
      "UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = :STATUS, DTULTATU = GETDATE()"
      " WHERE IDCTRLEXECREM = :IDCTRLEXECREM");
  command.Parameters().ParamByName("STATUS").SetValue(status);
  command.Parameters().ParamByName("IDCTRLEXECREM").SetValue(std::stoi(id));
  command.Execute();
  connection.Close();
}

int Run(int argc, char** argv) {
  std::string parameter;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) parameter += ' ';
    parameter += argv[i];
  }

  const std::string dir = qar::platform::ExtractFilePath(qar::platform::ExecutableFileName());
  const Settings settings = ReadSettings(dir + kConfigFileName);
  AppendLog(Setting(settings, "log", dir + kLogFileName),
            parameter + " pid=" + std::to_string(qar::platform::CurrentProcessId()));

  const int seconds = std::stoi(Setting(settings, "seconds", "0"));
  if (seconds > 0) qar::platform::SystemClock().Sleep(std::chrono::seconds(seconds));
  const std::string hold = Setting(settings, "hold", "");
  for (int i = 0; !hold.empty() && i < 6000 && std::filesystem::exists(qar::platform::ToNativePath(hold)); ++i) {
    qar::platform::SystemClock().Sleep(std::chrono::milliseconds(100));
  }

  const std::string status = Setting(settings, "status", "");
  const std::string id = RowId(parameter);
  if (status.empty() || id.empty()) return 0;
  const auto configured = settings.find("connection");
  WriteStatus(configured != settings.end() ? configured->second : qar::config::ReadConnectionString(""), id,
              status);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "QarTab.exe: %s\n", qar::platform::AnsiToConsole(error.what()).c_str());
    return 1;
  }
}
