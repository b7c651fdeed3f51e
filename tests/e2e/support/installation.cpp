#include "installation.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "config/GeralQar.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/secret.h"
#include "wait_until.h"

namespace qar::e2e {

// The build passes each program's place relative to the test executable's directory.
static std::string Built(const char* path) { return platform::ExtractFilePath(platform::ExecutableFileName()) + path; }

Installation::Installation() {
  static int counter = 0;
  dir_ = platform::TempDirectory() + "qar_e2e_" + std::to_string(platform::CurrentProcessId()) + "_" +
         std::to_string(++counter) + platform::kPathDelim;
  std::filesystem::remove_all(platform::ToNativePath(dir_));
  std::filesystem::create_directories(platform::ToNativePath(dir_));
  std::filesystem::copy_file(platform::ToNativePath(Built(QAR_E2E_QARSNC)), platform::ToNativePath(AgentPath()));
  std::filesystem::copy_file(platform::ToNativePath(Built(QAR_E2E_QARTAB)), platform::ToNativePath(WorkerPath()));
  std::filesystem::copy_file(platform::ToNativePath(Built(QAR_E2E_QARCFG)), platform::ToNativePath(AdminToolPath()));
  PrepareSystem();
  StoreStringConex(platform::EncryptSecret(SqliteConnectionString(DatabaseFile())));
}

Installation::~Installation() {
  RestoreSystem();
  // A process just ended may hold the directory a moment longer (Windows).
  std::error_code error;
  WaitUntil([&] {
    std::filesystem::remove_all(platform::ToNativePath(dir_), error);
    return !error;
  }, 10);
}

void Installation::StoreStringConex(const std::string& stored) const {
  platform::RegistryKey key;
  if (key.Open(config::sSiteWebSrvKey, true) != platform::RegStatus::kOk ||
      key.WriteString(config::kStringConexValue, stored) != platform::RegStatus::kOk) {
    throw std::runtime_error("cannot store StringConex: " + key.LastError());
  }
}

void Installation::RemoveStringConex() const {
  platform::RegistryKey key;
  if (key.Open(config::sSiteWebSrvKey, false) == platform::RegStatus::kOk) key.DeleteValue(config::kStringConexValue);
}

void Installation::ConfigureWorker(const std::vector<std::string>& lines) const {
  std::ofstream out(platform::ToNativePath(dir_ + "QarTab.cfg"), std::ios::trunc | std::ios::binary);
  for (const std::string& line : lines) out << line << '\n';
}

// Each line of QarTab.log is "<parameter string> pid=<id>"; a line still being
// written (no end of line yet) is left for the next look.
std::vector<WorkerRun> Installation::WorkerRuns() const {
  std::vector<WorkerRun> runs;
  std::istringstream text(ReadText("QarTab.log"));
  std::string line;
  while (std::getline(text, line) && !text.eof()) {
    const std::size_t at = line.rfind(" pid=");
    runs.push_back({line.substr(0, at), static_cast<std::uint32_t>(std::stoul(line.substr(at + 5)))});
  }
  return runs;
}

std::string Installation::ReadText(const std::string& name) const {
  std::ifstream in(platform::ToNativePath(dir_ + name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qar::e2e
