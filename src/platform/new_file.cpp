#include "platform/new_file.h"

#include <utility>

namespace qar::platform {

TNewFile::~TNewFile() { Close(); }

TNewFile::TNewFile(TNewFile&& other) noexcept
    : native_(std::exchange(other.native_, kNone)), exists_(other.exists_), path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

TNewFile& TNewFile::operator=(TNewFile&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = std::exchange(other.native_, kNone);
    exists_ = other.exists_;
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

}  // namespace qar::platform
