#include "installation.h"

#include <filesystem>
#include <random>

#include "diagnostics/websrv_key.h"
#include "platform/environment.h"
#include "platform/secret.h"

namespace qar::e2e {

Installation::Installation(const std::string& base) {
  // Process ids come round again soon on a busy machine: the leftovers of an earlier
  // run under the same id must never be taken for this installation's.
  static int counter = 0;
  dir_ = base + "qar_e2e_" + std::to_string(platform::CurrentProcessId()) + "_" +
         std::to_string(std::random_device()() % 1000000) + "_" + std::to_string(++counter) + platform::kPathDelim;
  std::filesystem::create_directories(platform::ToNativePath(dir_));
  // The build passes each program's place relative to the test executable's directory.
  const std::string built = platform::ExtractFilePath(platform::ExecutableFileName());
  for (const auto& [from, to] : {std::pair{QAR_E2E_QARSNC, AgentPath()}, {QAR_E2E_QARTAB, WorkerPath()},
                                 {QAR_E2E_QARCFG, AdminToolPath()}}) {
    std::filesystem::copy_file(platform::ToNativePath(built + from), platform::ToNativePath(to));
  }
  // POSIX: the settings file, and the lock of "QSYNC" where only this installation's agents meet it.
  platform::SetEnv("QARSNC_HKLM", dir_ + "HKLM.reg");
  std::filesystem::create_directory(platform::ToNativePath(dir_ + "run"));
  std::filesystem::permissions(platform::ToNativePath(dir_ + "run"), std::filesystem::perms::owner_all);
  platform::SetEnv("XDG_RUNTIME_DIR", dir_ + "run");
  StoreStringConex(platform::EncryptSecret(SqliteConnectionString(DatabaseFile())));
  // The agent's log directory (the runs' output files) inside the installation.
  std::filesystem::create_directory(platform::ToNativePath(LogDir()));
  platform::RegistryKey key;
  if (key.Open(diagnostics::kWebSrvKey, true) != platform::RegStatus::kOk ||
      key.WriteString("TmpFileDir", LogDir()) != platform::RegStatus::kOk)
    throw std::runtime_error("cannot store TmpFileDir: " + key.LastError());
}

Installation::~Installation() {
  RemoveStringConex();  // Windows: the prefix's registry, which later cases share
  platform::RegistryKey key;
  if (key.Open(diagnostics::kWebSrvKey, false) == platform::RegStatus::kOk) key.DeleteValue("TmpFileDir");
  std::error_code error;  // a process just ended may hold the directory a moment longer (Windows)
  WaitUntil([&] { return std::filesystem::remove_all(platform::ToNativePath(dir_), error), !error; }, 10);
}

}  // namespace qar::e2e
