// Windows: demo.vbs through the system's COM, as an administrator runs it.
#include <windows.h>

#include <filesystem>

#include "child_process.h"
#include "demo_client.h"

namespace qar::e2e {

std::optional<int> RunDemoClient(const Installation& installation) {
  const std::string built = platform::ExtractFilePath(platform::ExecutableFileName());
  std::filesystem::copy_file(platform::ToNativePath(built + QAR_E2E_DEMO_SCRIPT),
                             platform::ToNativePath(installation.Dir() + "demo.vbs"),
                             std::filesystem::copy_options::overwrite_existing);
  return RunDemoScript(installation, "demo.vbs", "client");
}

std::optional<int> RunDemoScript(const Installation& installation, const std::string& script, const std::string& output) {
  const std::string dir = installation.Dir(), built = platform::ExtractFilePath(platform::ExecutableFileName());
  std::filesystem::copy_file(platform::ToNativePath(built + QAR_E2E_QARDEMOSRV), platform::ToNativePath(dir + "QarDemoSrv.dll"),
                             std::filesystem::copy_options::overwrite_existing);
  char system[MAX_PATH + 1] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  // A script host's first start in a new prefix is slow.
  const auto run = [&](const char* program, const std::vector<std::string>& args, const std::string& to) {
    return ChildProcess(std::string(system) + "\\" + program, args, dir, dir + to).Wait(300);
  };
  std::optional<int> code = run("regsvr32.exe", {"/s", dir + "QarDemoSrv.dll"}, "regsvr32");
  // The script's path relative to the current directory, as the script host wants it.
  if (code == 0) code = run("cscript.exe", {"//Nologo", script}, output);
  run("regsvr32.exe", {"/u", "/s", dir + "QarDemoSrv.dll"}, "regsvr32");
  return code;
}

std::string DemoServerModule(const Installation& installation) { return installation.Dir() + "QarDemoSrv.dll"; }

}  // namespace qar::e2e
