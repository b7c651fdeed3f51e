// Builds a log entry in memory before it is appended in one piece.
#pragma once

#include <string>
#include <string_view>

#include "diagnostics/log_captions.h"

namespace qar::diagnostics {

// The entry layout shared by the connection and statement logs: one caption per
// line, its value on the next line after three spaces, an empty line after each
// item; every line ends with CR LF.
//
//   TLogEntryText entry;
//   entry.Line(std::string(90, '='));
//   entry.Item(captions::kDataModule, ownerName);
//   AppendToLogFile(path, entry.Text());
class TLogEntryText {
 public:
  TLogEntryText() { text_.reserve(512); }

  // `text` followed by CR LF; an empty line without argument.
  void Line(std::string_view text = {}) {
    text_ += text;
    text_ += captions::kNewLine;
  }
  // Two pieces on one line.
  void Line(std::string_view first, std::string_view second) {
    text_ += first;
    Line(second);
  }
  // The caption line, the value after three spaces, an empty line.
  void Item(std::string_view caption, std::string_view value) {
    Line(caption);
    Line(captions::kIndent, value);
    Line();
  }

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace qar::diagnostics
