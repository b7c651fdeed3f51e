// Windows: demo.vbs through the system's COM, as an administrator runs it.
#include <windows.h>

#include <filesystem>

#include "child_process.h"
#include "demo_client.h"

namespace qar::e2e {

std::optional<int> RunDemoClient(const Installation& installation) {
  const std::string dir = installation.Dir(), built = platform::ExtractFilePath(platform::ExecutableFileName());
  for (const auto& [from, to] : {std::pair{QAR_E2E_QARDEMOSRV, "QarDemoSrv.dll"}, std::pair{QAR_E2E_DEMO_SCRIPT, "demo.vbs"}})
    std::filesystem::copy_file(platform::ToNativePath(built + from), platform::ToNativePath(dir + to),
                               std::filesystem::copy_options::overwrite_existing);
  char system[MAX_PATH + 1] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  // A script host's first start in a new prefix is slow.
  const auto run = [&](const char* program, const std::vector<std::string>& args, const char* output) {
    return ChildProcess(std::string(system) + "\\" + program, args, dir, dir + output).Wait(300);
  };
  std::optional<int> code = run("regsvr32.exe", {"/s", dir + "QarDemoSrv.dll"}, "regsvr32");
  // The script's path relative to the current directory, as the script host wants it.
  if (code == 0) code = run("cscript.exe", {"//Nologo", "demo.vbs"}, "client");
  run("regsvr32.exe", {"/u", "/s", dir + "QarDemoSrv.dll"}, "regsvr32");
  return code;
}

std::string DemoServerModule(const Installation& installation) { return installation.Dir() + "QarDemoSrv.dll"; }

}  // namespace qar::e2e
