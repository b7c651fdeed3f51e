// Windows: the named mutex is a kernel mutex of the session's local namespace.
#include <windows.h>

#include <fstream>
#include <iterator>

#include "platform/module.h"
#include "platform/mutex.h"

namespace qar::platform {

struct NamedMutex::Impl {
  HANDLE handle = nullptr;
  std::string stateFile;
  ~Impl() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

NamedMutex::NamedMutex(std::string_view name) {
  // A backslash would pick a namespace ("Global\\"); the mutex stays in the logon's.
  if (name.empty() || name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) {
    lastError_ = ERROR_INVALID_NAME;
    return;
  }
  const std::string text(name);
  auto impl = std::make_unique<Impl>();
  impl->handle = CreateMutexA(nullptr, TRUE, text.c_str());
  const DWORD error = GetLastError();
  if (impl->handle == nullptr) {
    lastError_ = static_cast<int>(error);
    return;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    // The handle opens the other holder's mutex: keeping it would keep that
    // mutex alive after its holder ended.
    lastError_ = static_cast<int>(error);
    outcome_ = MutexOutcome::kAlreadyExists;
    return;
  }
  impl->stateFile = TempDirectory() + text + ".state";
  impl_ = std::move(impl);
  outcome_ = MutexOutcome::kCreated;
}

NamedMutex::~NamedMutex() = default;
NamedMutex::NamedMutex(NamedMutex&&) noexcept = default;
NamedMutex& NamedMutex::operator=(NamedMutex&&) noexcept = default;

std::string NamedMutex::ErrorText() const {
  if (lastError_ == 0) return {};
  char buffer[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(lastError_), 0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ')) --n;
  if (n == 0) return "error " + std::to_string(lastError_);
  return std::string(buffer, n);
}

void NamedMutex::Close() { impl_.reset(); }

bool NamedMutex::Publish(const std::string& text) {
  if (!impl_) return false;
  const std::string part = impl_->stateFile + ".part";
  {
    std::ofstream out(ToNativePath(part), std::ios::binary | std::ios::trunc);
    if (!(out << text).flush()) return false;
  }
  return MoveFileExA(part.c_str(), impl_->stateFile.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::optional<std::string> NamedMutex::ReadPublished(std::string_view name) {
  if (name.empty() || name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos) return std::nullopt;
  std::ifstream in(ToNativePath(TempDirectory() + std::string(name) + ".state"), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qar::platform
