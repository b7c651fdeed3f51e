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

namespace {

// The build passes each program's place relative to the test executable's directory.
std::string Built(const char* relativePath) {
  if (relativePath[0] == '\0') return {};
  return platform::ExtractFilePath(platform::ExecutableFileName()) + relativePath;
}

std::string NewDirectory() {
  static int counter = 0;
  const std::string dir = platform::TempDirectory() + "qar_e2e_" + std::to_string(platform::CurrentProcessId()) +
                          "_" + std::to_string(++counter);
  const std::filesystem::path native = platform::ToNativePath(dir);
  std::filesystem::remove_all(native);
  std::filesystem::create_directories(native);
  return dir + platform::kPathDelim;
}

void CopyProgram(const std::string& from, const std::string& to) {
  if (from.empty()) return;
  std::filesystem::copy_file(platform::ToNativePath(from), platform::ToNativePath(to),
                             std::filesystem::copy_options::overwrite_existing);
}

void WriteStringConex(const std::string& stored) {
  platform::RegistryKey key;
  if (key.Open(config::sSiteWebSrvKey, true) != platform::RegStatus::kOk ||
      key.WriteString(config::kStringConexValue, stored) != platform::RegStatus::kOk) {
    throw std::runtime_error("cannot store StringConex: " + key.LastError());
  }
}

}  // namespace

std::string BuiltAgent() { return Built(QAR_E2E_QARSNC); }
std::string BuiltWorker() { return Built(QAR_E2E_QARTAB); }
std::string BuiltAdminTool() { return Built(QAR_E2E_QARCFG); }

Installation::Installation() : dir_(NewDirectory()) {
  CopyProgram(BuiltAgent(), AgentPath());
  CopyProgram(BuiltWorker(), WorkerPath());
  PrepareSystem();
  StoreConnectionString(ConnectionStringFor(DatabaseFile()));
}

Installation::~Installation() {
  RestoreSystem();
  // A process just ended may hold the directory a moment longer (Windows).
  const std::filesystem::path native = platform::ToNativePath(dir_);
  WaitUntil(
      [&] {
        std::error_code ignored;
        std::filesystem::remove_all(native, ignored);
        return !std::filesystem::exists(native, ignored);
      },
      10);
}

std::string Installation::AgentPath() const { return dir_ + "QarSnc.exe"; }
std::string Installation::WorkerPath() const { return dir_ + "QarTab.exe"; }
std::string Installation::AdminToolPath() const { return BuiltAdminTool(); }
std::string Installation::DatabaseFile(const std::string& name) const { return dir_ + name; }

std::string Installation::ConnectionStringFor(const std::string& databaseFile) const {
  return "Provider=SQLite;Data Source=" + DriverFileName(databaseFile);
}

void Installation::StoreConnectionString(const std::string& plain) {
  WriteStringConex(platform::EncryptSecret(plain));
}

void Installation::StoreRawConnectionValue(const std::string& stored) { WriteStringConex(stored); }

void Installation::RemoveConnectionString() {
  platform::RegistryKey key;
  if (key.Open(config::sSiteWebSrvKey, false) == platform::RegStatus::kOk) {
    key.DeleteValue(config::kStringConexValue);
  }
}

void Installation::ConfigureWorker(const std::vector<std::string>& lines) {
  std::ofstream out(platform::ToNativePath(dir_ + "QarTab.cfg"), std::ios::trunc | std::ios::binary);
  for (const std::string& line : lines) out << line << '\n';
  if (!out.flush()) throw std::runtime_error("cannot write QarTab.cfg in " + dir_);
}

std::string Installation::ReadText(const std::string& name) const {
  std::ifstream in(platform::ToNativePath(dir_ + name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Each line of QarTab.log is "<parameter string> pid=<id>"; a line still being
// written (no end of line yet) is left for the next look.
std::vector<std::string> Installation::WorkerLogLines() const {
  std::vector<std::string> lines;
  std::istringstream text(ReadText("QarTab.log"));
  std::string line;
  while (std::getline(text, line)) {
    if (text.eof()) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Installation::WorkerParameters() const {
  std::vector<std::string> parameters;
  for (const std::string& line : WorkerLogLines()) parameters.push_back(line.substr(0, line.rfind(" pid=")));
  return parameters;
}

std::vector<std::uint32_t> Installation::WorkerPids() const {
  std::vector<std::uint32_t> pids;
  for (const std::string& line : WorkerLogLines()) {
    const std::size_t at = line.rfind(" pid=");
    if (at != std::string::npos) pids.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(at + 5))));
  }
  return pids;
}

}  // namespace qar::e2e
