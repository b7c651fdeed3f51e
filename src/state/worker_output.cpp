#include "state/worker_output.h"

#include "platform/module.h"
#include "state/state_store.h"

namespace qar::state {

namespace {
constexpr std::string_view kPrefix = "QarTab_", kSuffix = ".log";
constexpr std::size_t kStampDigits = 14, kRandomDigits = 8;
constexpr int kNameAttempts = 4;

bool AllOf(std::string_view text, std::string_view allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
}
}  // namespace

std::string WorkerOutputDirectory() {
  const std::string dir = platform::ExtractFileDir(StateStorePath());
  return (dir.empty() ? std::string(".") : dir) + platform::kPathDelim + "output";
}

std::string WorkerOutputName(std::int64_t request, platform::TUtcDateTime started, const std::string& randomHex) {
  return std::string(kPrefix) + std::to_string(request) + "_" + platform::FormatDateTime("yyyymmddhhnnss", started) +
         "_" + randomHex + std::string(kSuffix);
}

bool IsWorkerOutputName(const std::string& name, std::int64_t request) {
  const std::string head = std::string(kPrefix) + std::to_string(request) + "_";
  if (request < 0 || !name.starts_with(head) || !name.ends_with(kSuffix)) return false;
  const std::string_view rest = std::string_view(name).substr(head.size(), name.size() - head.size() - kSuffix.size());
  return rest.size() == kStampDigits + 1 + kRandomDigits && rest[kStampDigits] == '_' &&
         AllOf(rest.substr(0, kStampDigits), "0123456789") &&
         AllOf(rest.substr(kStampDigits + 1), "0123456789abcdef");
}

bool IsWorkerOutputPath(const std::string& path, const std::string& directory, std::int64_t request) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut != std::string::npos && path.substr(0, cut) == directory &&
         IsWorkerOutputName(path.substr(cut + 1), request);
}

TWorkerOutput CreateWorkerOutput(const std::string& directory, std::int64_t request, platform::TUtcDateTime started,
                                 const std::function<std::string()>& randomHex) {
  TWorkerOutput output;
  if (const std::string error = platform::MakeGroupDirectory(directory, kWorkerOutputDirectoryMode); !error.empty()) {
    output.error = "the output directory " + directory + " cannot be used: " + error;
    return output;
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name;
    try {
      name = WorkerOutputName(request, started, randomHex());
    } catch (const std::exception& error) {
      output.error = std::string("no name can be made for the output file: ") + error.what();
      return output;
    }
    output.file = platform::TNewFile::Create(directory, name);
    if (output.file.Ok()) return output;
    output.error = "the output file " + output.file.Path() + " cannot be created: " + output.file.Error();
    if (!output.file.Exists()) return output;  // only a name already taken is worth another try
  }
  return output;
}

}  // namespace qar::state
