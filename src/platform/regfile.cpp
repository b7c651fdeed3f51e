// The .reg export format: parsing and writing, with no file or system access.
#include "platform/regfile.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "platform/text.h"

namespace qar::platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";  // the older export, in the ANSI code page
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kLf = "\n";
constexpr std::size_t kHexLineWidth = 77;  // the editor wraps hex data before column 80

// Blanks around a line's content; a CR counts, so that a stray one reads the same
// whatever line ends the file is written with.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// True when `path` lies below `ancestor`.
bool IsBelow(std::string_view path, std::string_view ancestor) {
  return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
         SameTextAscii(path.substr(0, ancestor.size()), ancestor);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHexNumber(std::string_view digits, std::size_t maxDigits) {
  if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(d);
  }
  return value;
}

// Offset of the first byte that breaks UTF-8, or npos.
std::size_t FindInvalidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
    } else {
      return i;
    }
    if (i + extra >= text.size()) return i;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return i;
    }
    // Over-long three-byte forms and UTF-16 surrogates are not UTF-8.
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 >= 0xA0) || (b == 0xF0 && b1 < 0x90) ||
        (b == 0xF4 && b1 >= 0x90)) {
      return i;
    }
    i += extra + 1;
  }
  return std::string_view::npos;
}

// The file's lines as UTF-8, one at a time, so that a large file is never held a
// second time in another encoding. The bytes are UTF-16LE with BOM, UTF-8 with or
// without BOM, or the older export in the ANSI code page.
class TLineReader {
 public:
  explicit TLineReader(std::string_view bytes) : bytes_(bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes_[i]); };
    if (bytes_.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
      bytes_.remove_prefix(2);
      if (bytes_.size() % 2 != 0) throw ERegFormatError(1, "UTF-16 text with an odd number of bytes");
      encoding_ = RegEncoding::kUtf16Le;
    } else if (bytes_.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
      throw ERegFormatError(1, "UTF-16 big-endian text is not supported; save it as UTF-16LE or UTF-8");
    } else if (bytes_.size() >= 2 && byte(0) == 0 && byte(1) != 0) {
      // Text begins with a letter; a NUL before it is the high byte of big-endian UTF-16.
      throw ERegFormatError(1, "UTF-16 big-endian text (without byte-order mark) is not supported; "
                              "save it as UTF-16LE or UTF-8");
    } else if (bytes_.size() >= 2 && byte(0) != 0 && byte(1) == 0) {
      throw ERegFormatError(1, "UTF-16LE text without its byte-order mark (FF FE); save it with the mark, "
                              "as the registry editor exports, or as UTF-8");
    } else if (bytes_.substr(0, 3) == "\xEF\xBB\xBF") {
      bytes_.remove_prefix(3);
      encoding_ = RegEncoding::kUtf8Bom;
    } else {
      encoding_ = bytes_.substr(0, kOldHeader.size()) == kOldHeader ? RegEncoding::kAnsi : RegEncoding::kUtf8;
    }
  }

  // The next line without its line end, valid until the next call; false at the end.
  bool Next(std::string_view& line) {
    if (pos_ >= bytes_.size()) return false;
    ++number_;
    bool ended = false;  // by a line feed
    if (encoding_ == RegEncoding::kUtf16Le) {
      ended = NextUtf16Line();
    } else {
      const std::size_t end = std::min(bytes_.find('\n', pos_), bytes_.size());
      const std::string_view raw = bytes_.substr(pos_, end - pos_);
      ended = end < bytes_.size();
      pos_ = end + 1;
      if (encoding_ == RegEncoding::kAnsi) {
        buffer_ = AnsiToUtf8(raw);
      } else if (FindInvalidUtf8(raw) != std::string_view::npos) {
        throw ERegFormatError(number_, "the text is not valid UTF-8; save the file as UTF-8 or UTF-16LE");
      }
      current_ = encoding_ == RegEncoding::kAnsi ? std::string_view(buffer_) : raw;
    }
    // A NUL is no text: a value holding one would not read back the same.
    if (current_.find('\0') != std::string_view::npos) throw ERegFormatError(number_, "the text holds a NUL character");
    line = current_;
    // Every CR before the line feed goes: a CR kept at a line's end would read back
    // differently once the file is written with the other line ends.
    const bool cr = !line.empty() && line.back() == '\r';
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (ended && !lineEndSeen_) {
      lineEndSeen_ = true;
      crlf_ = cr;
    }
    return true;
  }

  int LineNumber() const { return number_; }
  RegEncoding Encoding() const { return encoding_; }
  bool CrLf() const { return crlf_; }

 private:

  char16_t UnitAt(std::size_t offset) const {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes_[offset]) |
                                 (static_cast<unsigned char>(bytes_[offset + 1]) << 8));
  }

  // ASCII, nearly all of a settings file, is copied directly; a run of other
  // characters goes through the general conversion (no surrogate is a line end).
  // True when the line ended with a line feed.
  bool NextUtf16Line() {
    buffer_.clear();
    while (pos_ < bytes_.size()) {
      const char16_t unit = UnitAt(pos_);
      if (unit < 0x80) {
        pos_ += 2;
        if (unit == u'\n') {
          current_ = buffer_;
          return true;
        }
        buffer_ += static_cast<char>(unit);
        continue;
      }
      wide_.clear();
      for (; pos_ < bytes_.size() && UnitAt(pos_) >= 0x80; pos_ += 2) wide_ += UnitAt(pos_);
      buffer_ += Utf16ToUtf8(wide_);
    }
    current_ = buffer_;
    return false;
  }

  std::string_view bytes_;
  RegEncoding encoding_ = RegEncoding::kUtf8;
  bool lineEndSeen_ = false;
  bool crlf_ = true;
  std::size_t pos_ = 0;
  int number_ = 0;
  std::string buffer_;
  std::u16string wide_;
  std::string_view current_;
};

// Reads a quoted text starting at text[0] == '"'; returns the unescaped text and
// leaves `text` after the closing quote.
std::string ReadQuoted(std::string_view& text, int line) {
  std::string out;
  std::size_t i = 1;
  while (true) {
    const std::size_t stop = text.find_first_of("\"\\", i);
    if (stop == std::string_view::npos) throw ERegFormatError(line, "a quoted text has no closing quote");
    out.append(text.substr(i, stop - i));
    if (text[stop] == '"') {
      text.remove_prefix(stop + 1);
      return out;
    }
    if (stop + 1 >= text.size() || (text[stop + 1] != '\\' && text[stop + 1] != '"')) {
      throw ERegFormatError(line, "a backslash in quotes must be written \\\\ (or \\\" for a quote)");
    }
    out += text[stop + 1];
    i = stop + 2;
  }
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// hex data "41,00,\ 42,00" (continuations already joined) -> bytes.
std::optional<std::string> ParseHexBytes(std::string_view data) {
  std::string bytes;
  data = Trim(data);
  if (data.empty()) return bytes;
  while (true) {
    const std::size_t comma = data.find(',');
    const std::string_view token = Trim(data.substr(0, comma));
    const auto value = ParseHexNumber(token, 2);
    if (!value) return std::nullopt;
    bytes += static_cast<char>(*value);
    if (comma == std::string_view::npos) break;
    data.remove_prefix(comma + 1);
    if (Trim(data).empty()) break;  // a trailing comma
  }
  return bytes;
}

// Text of a REG_SZ / REG_EXPAND_SZ held as UTF-16LE bytes: up to the first NUL.
std::optional<std::string> TextFromUtf16Bytes(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8));
    if (unit == 0) break;
    wide += unit;
  }
  return Utf16ToUtf8(wide);
}

// Parses the hex forms; `joined` is the data of every continued line, `raw` the source.
RegValue ParseHexValue(std::string name, std::string_view joined, std::string raw, int line) {
  RegValue value{std::move(name), RegValueKind::kOther, {}, 0, std::move(raw)};
  std::string_view rest = joined.substr(3);  // after "hex"
  std::optional<std::uint32_t> type = 3;       // REG_BINARY
  if (!rest.empty() && rest.front() == '(') {
    const std::size_t close = rest.find(')');
    if (close == std::string_view::npos) throw ERegFormatError(line, "hex( without its closing )");
    type = ParseHexNumber(rest.substr(1, close - 1), 8);
    if (!type) throw ERegFormatError(line, "hex(...) needs a hexadecimal value type");
    rest.remove_prefix(close + 1);
  }
  if (rest.empty() || rest.front() != ':') throw ERegFormatError(line, "hex data must follow a ':'");
  const auto bytes = ParseHexBytes(rest.substr(1));
  if (!bytes) throw ERegFormatError(line, "hex data must be bytes such as 0a,ff separated by commas");
  if (*type == 1 || *type == 2) {
    if (auto text = TextFromUtf16Bytes(*bytes)) {
      value.kind = *type == 1 ? RegValueKind::kString : RegValueKind::kExpandString;
      value.text = std::move(*text);
    }
  }
  return value;
}

std::string HexValueText(std::string_view head, std::string_view bytes, std::string_view eol) {
  std::string out(head);
  std::size_t column = head.size();
  char digits[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
    std::string token = digits;
    if (i + 1 < bytes.size()) token += ',';
    if (column + token.size() > kHexLineWidth) {
      out += "\\";
      out += eol;
      out += "  ";
      column = 2;
    }
    out += token;
    column += token.size();
  }
  return out;
}

std::string Utf16Bytes(std::string_view utf8) {
  std::string bytes;
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  bytes.append(2, '\0');
  return bytes;
}

std::string ValueText(const RegValue& value, std::string_view eol) {
  if (value.kind == RegValueKind::kComment) return value.raw;
  std::string head = value.name.empty() ? "@" : Quote(value.name);
  head += '=';
  if (!value.raw.empty()) {
    for (char c : value.raw) {
      if (c == '\n') {
        head += eol;
      } else {
        head += c;
      }
    }
    return head;
  }
  switch (value.kind) {
    case RegValueKind::kString:
      // A line break or NUL cannot stand between quotes: write it as REG_SZ bytes.
      if (value.text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return HexValueText(head + "hex(1):", Utf16Bytes(value.text), eol);
      }
      return head + Quote(value.text);
    case RegValueKind::kExpandString:
      return HexValueText(head + "hex(2):", Utf16Bytes(value.text), eol);
    case RegValueKind::kDword: {
      char digits[16];
      std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(value.dword));
      return head + digits;
    }
    default:
      return head + "hex:";
  }
}

}  // namespace

ERegFormatError::ERegFormatError(int line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}

RegValue* RegKey::FindValue(std::string_view name) {
  for (RegValue& value : values) {
    if (value.kind != RegValueKind::kComment && SameTextAscii(value.name, name)) return &value;
  }
  return nullptr;
}

const RegValue* RegKey::FindValue(std::string_view name) const {
  return const_cast<RegKey*>(this)->FindValue(name);
}

void RegKey::SetValue(RegValue value) {
  if (RegValue* existing = FindValue(value.name)) {
    value.name = std::move(existing->name);
    *existing = std::move(value);
  } else {
    values.push_back(std::move(value));
  }
}

bool RegKey::RemoveValue(std::string_view name) {
  const auto it = std::find_if(values.begin(), values.end(), [&](const RegValue& value) {
    return value.kind != RegValueKind::kComment && SameTextAscii(value.name, name);
  });
  if (it == values.end()) return false;
  values.erase(it);
  return true;
}

RegKey* RegDocument::FindKey(std::string_view path) {
  for (RegKey& key : keys) {
    if (SameTextAscii(key.path, path)) return &key;
  }
  return nullptr;
}

const RegKey* RegDocument::FindKey(std::string_view path) const {
  return const_cast<RegDocument*>(this)->FindKey(path);
}

bool RegDocument::HasKey(std::string_view path) const {
  return std::any_of(keys.begin(), keys.end(), [&](const RegKey& key) {
    return SameTextAscii(key.path, path) || IsBelow(key.path, path);
  });
}

RegKey& RegDocument::AddKey(std::string_view path) {
  if (RegKey* existing = FindKey(path)) return *existing;
  // After the last block of the nearest relative, so the file keeps its tree order.
  std::size_t insertAt = keys.size();
  std::string_view relative = path;
  for (std::size_t slash; (slash = relative.rfind('\\')) != std::string_view::npos;) {
    relative = relative.substr(0, slash);
    std::optional<std::size_t> last;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (SameTextAscii(keys[i].path, relative) || IsBelow(keys[i].path, relative)) last = i;
    }
    if (last) {
      insertAt = *last + 1;
      break;
    }
  }
  return *keys.insert(keys.begin() + static_cast<std::ptrdiff_t>(insertAt),
                      RegKey{std::string(path), {}});
}

std::size_t RegDocument::RemoveKeyTree(std::string_view path) {
  const std::size_t before = keys.size();
  std::erase_if(keys, [&](const RegKey& key) {
    return SameTextAscii(key.path, path) || IsBelow(key.path, path);
  });
  return before - keys.size();
}

namespace {

// Finds names as the lookups compare them (a-z folded) in an open-addressing table of
// (hash, position) slots, so that a file is read in time linear in its size however
// many keys it has and however many values one key holds.
class TFoldedNameIndex {
 public:
  // The position stored for a name equal to `name`, or `candidate` after storing it;
  // `nameAt(position)` gives the name stored at a position.
  template <typename NameAt>
  std::size_t FindOrAdd(std::string_view name, std::size_t candidate, NameAt nameAt) {
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const std::uint64_t hash = Hash(name);
    for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      TSlot& slot = slots_[i];
      if (slot.position == kEmpty) {
        slot = {hash, candidate};
        ++count_;
        return candidate;
      }
      if (slot.hash == hash && SameTextAscii(nameAt(slot.position), name)) return slot.position;
    }
  }

 private:
  static constexpr std::size_t kEmpty = static_cast<std::size_t>(-1);
  struct TSlot {
    std::uint64_t hash = 0;
    std::size_t position = kEmpty;
  };

  static std::uint64_t Hash(std::string_view name) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return hash ^ (hash >> 29);
  }

  void Grow() {
    std::vector<TSlot> old(std::max<std::size_t>(16, slots_.size() * 2));
    old.swap(slots_);
    for (const TSlot& slot : old) {
      if (slot.position == kEmpty) continue;
      std::size_t i = slot.hash & (slots_.size() - 1);
      while (slots_[i].position != kEmpty) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = slot;
    }
  }

  std::vector<TSlot> slots_;
  std::size_t count_ = 0;
};

// Builds the document from the lines of a file.
class TDocumentBuilder {
 public:
  explicit TDocumentBuilder(RegDocument& document) : document_(document) {}

  // A key listed twice is one key, as an import would make it.
  void SelectKey(std::string_view path) {
    std::vector<RegKey>& keys = document_.keys;
    current_ = keys_.FindOrAdd(path, keys.size(), [&](std::size_t i) -> std::string_view { return keys[i].path; });
    if (current_ == keys.size()) {
      keys.push_back(RegKey{std::string(path), {}});
      values_.emplace_back();
    }
  }
  bool HasKey() const { return current_ != kNone; }

  void AddComment(std::string line) {
    document_.keys[current_].values.push_back(RegValue{{}, RegValueKind::kComment, {}, 0, std::move(line)});
  }

  // A name given twice in one key keeps its first place and its first spelling; the
  // later value wins, as an import would leave it.
  void SetValue(RegValue value) {
    std::vector<RegValue>& values = document_.keys[current_].values;
    const std::size_t at = values_[current_].FindOrAdd(
        value.name, values.size(), [&](std::size_t i) -> std::string_view { return values[i].name; });
    if (at == values.size()) {
      values.push_back(std::move(value));
    } else {
      value.name = std::move(values[at].name);
      values[at] = std::move(value);
    }
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  RegDocument& document_;
  TFoldedNameIndex keys_;
  std::vector<TFoldedNameIndex> values_;  // one per key
  std::size_t current_ = kNone;
};

}  // namespace

RegDocument ParseRegFile(std::string_view bytes) {
  TLineReader reader(bytes);
  RegDocument document;
  TDocumentBuilder builder(document);
  bool headerSeen = false;

  for (std::string_view next; reader.Next(next);) {
    const int lineNumber = reader.LineNumber();
    const std::string_view line = Trim(next);
    if (line.empty()) continue;
    if (!headerSeen) {
      if ((line.starts_with(kHeader) || line.starts_with(kOldHeader)) &&
          line.find('\r') != std::string_view::npos) {
        throw ERegFormatError(lineNumber, "the lines end with CR alone; save the file with CR LF "
                                         "(or LF) line ends");
      }
      if (line != kHeader && line != kOldHeader) {
        throw ERegFormatError(lineNumber, "the file must begin with \"" + std::string(kHeader) + "\"");
      }
      headerSeen = true;
      continue;
    }
    if (line.front() == ';') {
      if (builder.HasKey()) {
        builder.AddComment(std::string(line));
      } else {
        document.preamble.emplace_back(line);
      }
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) {
        throw ERegFormatError(lineNumber, "a key line must be [path]");
      }
      const std::string_view path = line.substr(1, line.size() - 2);
      if (path.front() == '-') {
        throw ERegFormatError(lineNumber, "key deletions ([-path]) do not belong in a registry file");
      }
      builder.SelectKey(path);
      continue;
    }
    if (line.front() != '"' && line.front() != '@') {
      throw ERegFormatError(lineNumber, "expected [key], \"name\"=value, @=value or ;comment");
    }
    if (!builder.HasKey()) throw ERegFormatError(lineNumber, "a value before the first [key]");

    std::string_view rest = line;
    std::string name;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else {
      name = ReadQuoted(rest, lineNumber);
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=') throw ERegFormatError(lineNumber, "expected '=' after the name");
    rest = Trim(rest.substr(1));

    RegValue value;
    if (!rest.empty() && rest.front() == '"') {
      std::string valueText = ReadQuoted(rest, lineNumber);
      if (!Trim(rest).empty()) throw ERegFormatError(lineNumber, "text after the closing quote");
      value = RegValue{std::move(name), RegValueKind::kString, std::move(valueText), 0, {}};
    } else if (StartsWithNoCase(rest, "dword:")) {
      const auto number = ParseHexNumber(Trim(rest.substr(6)), 8);
      if (!number) throw ERegFormatError(lineNumber, "dword: needs up to 8 hexadecimal digits");
      value = RegValue{std::move(name), RegValueKind::kDword, {}, *number, {}};
    } else if (StartsWithNoCase(rest, "hex")) {
      // Hex data continues on the next line after a trailing backslash.
      std::string raw(rest);
      std::string joined;
      std::string_view segment = TrimRight(rest);
      while (!segment.empty() && segment.back() == '\\') {
        joined += segment.substr(0, segment.size() - 1);
        if (!reader.Next(next)) throw ERegFormatError(lineNumber, "the file ends inside continued hex data");
        raw += '\n';
        raw += next;
        segment = Trim(next);
      }
      joined += segment;
      value = ParseHexValue(std::move(name), joined, std::move(raw), lineNumber);
    } else if (rest == "-") {
      value = RegValue{std::move(name), RegValueKind::kOther, {}, 0, "-"};
    } else {
      throw ERegFormatError(lineNumber, "unknown value: expected \"text\", dword:, hex: or hex(n):");
    }
    builder.SetValue(std::move(value));
  }
  document.encoding = reader.Encoding();
  document.crlf = reader.CrLf();
  return document;
}

namespace {

std::string DocumentText(const RegDocument& document, std::string_view header) {
  const std::string_view eol = document.crlf ? kCrLf : kLf;
  std::string out(header);
  out += eol;
  out += eol;
  for (const std::string& comment : document.preamble) {
    out += comment;
    out += eol;
  }
  if (!document.preamble.empty()) out += eol;
  for (const RegKey& key : document.keys) {
    out += '[';
    out += key.path;
    out += ']';
    out += eol;
    for (const RegValue& value : key.values) {
      out += ValueText(value, eol);
      out += eol;
    }
    out += eol;
  }
  return out;
}

}  // namespace

std::string FormatRegText(const RegDocument& document) { return DocumentText(document, kHeader); }

std::string SerializeRegFile(const RegDocument& document) {
  switch (document.encoding) {
    case RegEncoding::kUtf8:
      return FormatRegText(document);
    case RegEncoding::kUtf8Bom:
      return "\xEF\xBB\xBF" + FormatRegText(document);
    case RegEncoding::kAnsi: {
      const std::string text = DocumentText(document, kOldHeader);
      std::string ansi = Utf8ToAnsi(text);
      if (AnsiToUtf8(ansi) == text) return ansi;
      return FormatRegText(document);  // text with no ANSI form: UTF-8 keeps it
    }
    case RegEncoding::kUtf16Le:
      break;
  }
  const std::u16string wide = Utf8ToUtf16(FormatRegText(document));
  std::string bytes = "\xFF\xFE";
  bytes.reserve(2 + wide.size() * 2);
  for (char16_t unit : wide) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace qar::platform
