// Log and report files: one entry per opening, appends to one path serialised in the process.
#include "diagnostics/log_file.h"

#include <array>
#include <functional>

namespace qar::diagnostics {

namespace {

// Appends to one path are serialised by a mutex picked by the path's hash. A fixed
// set keeps memory bounded however many daily, per-caller files come and go; two
// paths that share a mutex only wait for each other a little.
std::mutex& PathMutex(const std::string& path) {
  static std::array<std::mutex, 32> mutexes;
  return mutexes[std::hash<std::string>{}(path) % mutexes.size()];
}

}  // namespace

EInOutError::EInOutError(const std::string& path, int code, const std::string& systemText)
    : std::runtime_error(path + ": " + systemText), path_(path), code_(code) {}

TLogFile::TLogFile(const std::string& path) : path_(path), pathLock_(PathMutex(path)) {
  handle_ = OpenNative(path_, existed_);
}

TLogFile::~TLogFile() { CloseNative(handle_); }

void TLogFile::Write(std::string_view bytes) { WriteNative(handle_, path_, bytes); }

void AppendToLogFile(const std::string& path, std::string_view bytes) {
  TLogFile file(path);
  file.Write(bytes);
}

}  // namespace qar::diagnostics
