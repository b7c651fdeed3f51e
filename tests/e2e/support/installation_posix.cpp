// POSIX: the installation's registry file and private runtime directory, through the environment.
#include <sys/stat.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "installation.h"
#include "platform/environment.h"
#include "platform/text.h"

namespace qar::e2e {

namespace {

struct SavedEnvironment {
  std::optional<std::string> hklm;
  std::optional<std::string> runtimeDir;
};

SavedEnvironment& Saved() {
  static SavedEnvironment saved;
  return saved;
}

void Restore(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    platform::SetEnv(name, *value);
  } else {
    platform::UnsetEnv(name);
  }
}

}  // namespace

void Installation::PrepareSystem() {
  Saved() = {platform::GetEnv("QARSNC_HKLM"), platform::GetEnv("XDG_RUNTIME_DIR")};
  platform::SetEnv("QARSNC_HKLM", dir_ + "HKLM.reg");
  // The lock of "QSYNC" lives here: only this installation's agents meet it.
  const std::string runtimeDir = dir_ + "run";
  if (mkdir(platform::AnsiToUtf8(runtimeDir).c_str(), 0700) != 0) {
    throw std::runtime_error("cannot create " + runtimeDir);
  }
  platform::SetEnv("XDG_RUNTIME_DIR", runtimeDir);
}

void Installation::RestoreSystem() {
  Restore("QARSNC_HKLM", Saved().hklm);
  Restore("XDG_RUNTIME_DIR", Saved().runtimeDir);
}

std::string DriverFileName(const std::string& file) { return file; }

}  // namespace qar::e2e
