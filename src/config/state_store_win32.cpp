#include <filesystem>
#include <system_error>

#include "config/state_store.h"
#include "config/state_store_system.h"
#include "data/data_error.h"
#include "platform/environment.h"
#include "platform/module.h"

namespace qar::config {

std::string StateStorePath() {
  const std::string programData = platform::GetEnv("ProgramData").value_or("C:\\ProgramData");
  return programData + "\\QarSnc\\" + kStateStoreFileName;
}

void PrepareStoreFile(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(platform::ToNativePath(platform::ExtractFileDir(path)), error);
  if (error) throw EDataError("cannot create the directory: " + error.message(), "08001", error.value());
}

bool StoreFileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(platform::ToNativePath(path), error);
}

std::string SignalName(int) { return {}; }

}  // namespace qar::config
