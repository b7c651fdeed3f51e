// TStrings: a list of text lines, such as the statement lines of a query.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qar {

// Lines of ANSI text. Text() joins them with each line followed by CR LF, as the
// framework's string lists do; SetText splits at CR LF, LF or CR.
class TStrings {
 public:
  TStrings() = default;
  TStrings(const TStrings& other) : lines_(other.lines_) {}
  TStrings& operator=(const TStrings& other) {
    lines_ = other.lines_;
    ++revision_;
    return *this;
  }

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(static_cast<std::size_t>(index)); }
  void Add(std::string line) {
    lines_.push_back(std::move(line));
    ++revision_;
  }
  void Clear() {
    lines_.clear();
    ++revision_;
  }

  std::string Text() const;
  void SetText(std::string_view text);

  // Grows with every change of the lines: whoever keeps what it made of the text
  // knows by it whether the text may have changed since.
  std::uint64_t Revision() const { return revision_; }

 private:
  std::vector<std::string> lines_;
  std::uint64_t revision_ = 0;
};

}  // namespace qar
