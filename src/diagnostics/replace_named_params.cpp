// SQL text normalisation: named parameter markers to positional ones.
#include "diagnostics/replace_named_params.h"

#include "platform/text.h"

namespace qar::diagnostics {

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

bool IsNameDelimiter(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

// Walks a text whose end reads as NUL, never past it.
class TStatementScanner {
 public:
  TStatementScanner(std::string_view text, const LeadByteTable& leadBytes)
      : text_(text), leadBytes_(leadBytes) {}

  char At(std::size_t pos) const { return pos < text_.size() ? text_[pos] : '\0'; }
  std::size_t Size() const { return text_.size(); }

  // From `pos`, steps over whole double-byte characters; returns the first position
  // that does not hold a lead byte, or the end when a lead byte is the last byte.
  std::size_t SkipDoubleByte(std::size_t pos) const {
    while (pos < text_.size() && leadBytes_[static_cast<unsigned char>(text_[pos])]) {
      if (pos + 1 >= text_.size()) return text_.size();
      pos += 2;
    }
    return pos;
  }

  // From `pos`, the first position holding a colon, a quote or a lead byte (or the end).
  std::size_t SkipPlain(std::size_t pos) const {
    while (pos < text_.size()) {
      const char c = text_[pos];
      if (c == ':' || IsQuote(c) || leadBytes_[static_cast<unsigned char>(c)]) break;
      ++pos;
    }
    return pos;
  }

 private:
  std::string_view text_;
  const LeadByteTable& leadBytes_;
};

}  // namespace

const LeadByteTable& SystemLeadBytes() {
  static const LeadByteTable table = [] {
    LeadByteTable t{};
    for (std::size_t b = 0; b < t.size(); ++b) t[b] = platform::IsLeadByte(static_cast<unsigned char>(b));
    return t;
  }();
  return table;
}

std::string ReplaceNamedParams(std::string_view text) {
  return ReplaceNamedParams(text, SystemLeadBytes());
}

std::string ReplaceNamedParams(std::string_view text, const LeadByteTable& leadBytes) {
  text = text.substr(0, text.find('\0'));
  const TStatementScanner scan(text, leadBytes);
  std::string out;
  out.reserve(text.size());
  bool inLiteral = false;
  std::size_t p = 0;
  while (p < scan.Size()) {
    // Runs of ordinary bytes are copied as they are.
    const std::size_t plainEnd = scan.SkipPlain(p);
    out.append(text, p, plainEnd - p);
    p = plainEnd;
    const std::size_t next = scan.SkipDoubleByte(p);
    out.append(text, p, next - p);
    p = next;
    if (p >= scan.Size()) break;

    char c = scan.At(p);
    if (c == ':' && !inLiteral && scan.At(p + 1) != ':') {
      // A marker: the colon and its name become one "?".
      while (c != '\0' && (inLiteral || !IsNameDelimiter(c))) {
        p = scan.SkipDoubleByte(p + 1);
        c = scan.At(p);
        if (IsQuote(c)) inLiteral = !inLiteral;
      }
      out += '?';
      if (c == '\0') break;
      out += c;  // the delimiter that ended the name stays
    } else if (c == ':' && !inLiteral) {
      // A doubled colon: one colon stays, and it never starts a marker.
      out += ':';
      ++p;
    } else {
      if (IsQuote(c)) inLiteral = !inLiteral;
      out += c;
    }
    ++p;
  }
  return out;
}

}  // namespace qar::diagnostics
