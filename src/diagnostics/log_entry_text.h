// Builds a log entry in memory before it is appended in one piece.
#pragma once

#include <string>
#include <string_view>

#include "diagnostics/log_captions.h"
#include "platform/datetime.h"

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

  // The pieces (texts) one after another, then CR LF; an empty line without argument.
  template <class... Pieces>
  void Line(const Pieces&... pieces) {
    (text_.append(std::string_view(pieces)), ...);
    text_ += captions::kNewLine;
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

// The time an entry shows: "hh:nn:ss", 24-hour clock (written for every entry, so
// without the general formatter).
inline std::string EntryTime(platform::TDateTime now) {
  const platform::DateTimeParts p = platform::DecodeDateTime(now);
  const char text[] = {static_cast<char>('0' + p.hour / 10 % 10), static_cast<char>('0' + p.hour % 10), ':',
                       static_cast<char>('0' + p.minute / 10), static_cast<char>('0' + p.minute % 10), ':',
                       static_cast<char>('0' + p.second / 10), static_cast<char>('0' + p.second % 10)};
  return std::string(text, sizeof text);
}

}  // namespace qar::diagnostics
