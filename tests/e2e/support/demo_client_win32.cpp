// Windows: demo.vbs through the system's COM, as an administrator runs it.
#include <windows.h>

#include <filesystem>

#include "child_process.h"
#include "demo_client.h"

namespace qar::e2e {

std::optional<int> RunDemoClient(const Installation& installation) {
  const std::string dir = installation.Dir();
  const std::string built = platform::ExtractFilePath(platform::ExecutableFileName());
  const auto copy = [&](const char* from, const char* to) {
    std::filesystem::copy_file(platform::ToNativePath(built + from), platform::ToNativePath(dir + to),
                               std::filesystem::copy_options::overwrite_existing);
  };
  copy(QAR_E2E_QARDEMOSRV, "QarDemoSrv.dll");
  copy(QAR_E2E_DEMO_SCRIPT, "demo.vbs");
  char buffer[MAX_PATH + 1] = {};
  const std::string system = std::string(buffer, GetSystemDirectoryA(buffer, MAX_PATH)) + "\\";
  // A script host's first start in a new prefix is slow.
  const auto run = [&](const char* program, const std::vector<std::string>& args, const char* output) {
    return ChildProcess(system + program, args, dir, dir + output).Wait(300);
  };
  if (const std::optional<int> code = run("regsvr32.exe", {"/s", dir + "QarDemoSrv.dll"}, "regsvr32"); code != 0)
    return code;
  // The script's path relative to the current directory, as the script host wants it.
  const std::optional<int> code = run("cscript.exe", {"//Nologo", "demo.vbs"}, "client");
  run("regsvr32.exe", {"/u", "/s", dir + "QarDemoSrv.dll"}, "regsvr32");
  return code;
}

std::string DemoServerModule(const Installation& installation) { return installation.Dir() + "QarDemoSrv.dll"; }

}  // namespace qar::e2e
