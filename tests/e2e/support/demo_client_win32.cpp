// Windows: demo.vbs through the system's COM, as an administrator runs it.
#include <windows.h>

#include <filesystem>

#include "demo_client.h"
#include "platform/module.h"

namespace qar::e2e {

DemoRun RunDemoClient(const Installation& installation) {
  const std::string dir = installation.Dir();
  const std::string built = platform::ExtractFilePath(platform::ExecutableFileName());
  const auto copy = std::filesystem::copy_options::overwrite_existing;
  std::filesystem::copy_file(platform::ToNativePath(built + QAR_E2E_QARDEMOSRV), platform::ToNativePath(dir + "QarDemoSrv.dll"), copy);
  std::filesystem::copy_file(platform::ToNativePath(built + QAR_E2E_DEMO_SCRIPT), platform::ToNativePath(dir + "demo.vbs"), copy);
  char system[MAX_PATH + 1] = {};
  const std::string systemDir = std::string(system, GetSystemDirectoryA(system, MAX_PATH)) + "\\";

  const DemoRun registered = RunToEnd(systemDir + "regsvr32.exe", {"/s", dir + "QarDemoSrv.dll"}, dir, "regsvr32");
  if (registered.exitCode != 0) return registered;
  // The script's path relative to the current directory, as the script host wants it.
  DemoRun run = RunToEnd(systemDir + "cscript.exe", {"//Nologo", "demo.vbs"}, dir, "client");
  RunToEnd(systemDir + "regsvr32.exe", {"/u", "/s", dir + "QarDemoSrv.dll"}, dir, "regsvr32");
  return run;
}

}  // namespace qar::e2e
