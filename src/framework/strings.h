// TStrings: a list of text lines, such as the statement lines of a query.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qar {

// Lines of ANSI text. Text() joins them with each line followed by CR LF, as the
// framework's string lists do; SetText splits at CR LF, LF or CR.
class TStrings {
 public:
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const { return lines_.at(static_cast<std::size_t>(index)); }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }

  std::string Text() const;
  void SetText(std::string_view text);

 private:
  std::vector<std::string> lines_;
};

}  // namespace qar
