#include <windows.h>

#include <filesystem>
#include <memory>
#include <system_error>

#include "data/data_error.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/text.h"
#include "state/state_store.h"
#include "state/state_store_system.h"

namespace qar::state {

std::string StateStorePath() {
  const std::string programData = platform::GetEnv("ProgramData").value_or("C:\\ProgramData");
  return programData + "\\QarSnc\\" + kStateStoreFileName;
}

void PrepareStoreFile(const std::string& path) {
  const std::string dir = platform::ExtractFileDir(path);
  if (dir.empty()) return;  // the current directory
  std::error_code error;
  std::filesystem::create_directories(platform::ToNativePath(dir), error);
  if (error) throw EDataError("cannot create the directory: " + error.message(), "08001", error.value());
}

bool StoreFileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(platform::ToNativePath(path), error);
}

}  // namespace qar::state
