// POSIX: the installation's registry file and private runtime directory, through the environment.
#include <sys/stat.h>

#include <stdexcept>

#include "installation.h"
#include "platform/environment.h"

namespace qar::e2e {

void Installation::PrepareSystem() {
  platform::SetEnv("QARSNC_HKLM", dir_ + "HKLM.reg");
  // The lock of "QSYNC" lives here: only this installation's agents meet it.
  if (mkdir((dir_ + "run").c_str(), 0700) != 0) throw std::runtime_error("cannot create " + dir_ + "run");
  platform::SetEnv("XDG_RUNTIME_DIR", dir_ + "run");
}

void Installation::RestoreSystem() {}

std::string SqliteConnectionString(const std::string& databaseFile) {
  return "Provider=SQLite;Data Source=" + databaseFile;
}

}  // namespace qar::e2e
