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
constexpr std::size_t kHexLineWidth = 77;  // the editor wraps hex data before column 80

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
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

int LineOfOffset(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// The file's bytes as UTF-8 text.
std::string Decode(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    bytes.remove_prefix(2);
    if (bytes.size() % 2 != 0) throw RegFormatError(1, "UTF-16 text with an odd number of bytes");
    std::u16string wide(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
      wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return Utf16ToUtf8(wide);
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
      static_cast<unsigned char>(bytes[1]) == 0xFF) {
    throw RegFormatError(1, "UTF-16 big-endian text is not supported; save it as UTF-16LE or UTF-8");
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.substr(0, kOldHeader.size()) == kOldHeader) return AnsiToUtf8(bytes);
  if (const std::size_t bad = FindInvalidUtf8(bytes); bad != std::string_view::npos) {
    throw RegFormatError(LineOfOffset(bytes, bad),
                         "the text is not valid UTF-8; save the file as UTF-8 or UTF-16LE");
  }
  return std::string(bytes);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Reads a quoted text starting at text[0] == '"'; returns the unescaped text and
// leaves `text` after the closing quote.
std::string ReadQuoted(std::string_view& text, int line) {
  std::string out;
  std::size_t i = 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
      throw RegFormatError(line, "a backslash in quotes must be written \\\\ (or \\\" for a quote)");
    }
    out += text[++i];
  }
  if (i >= text.size()) throw RegFormatError(line, "a quoted text has no closing quote");
  text.remove_prefix(i + 1);
  return out;
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
    if (close == std::string_view::npos) throw RegFormatError(line, "hex( without its closing )");
    type = ParseHexNumber(rest.substr(1, close - 1), 8);
    if (!type) throw RegFormatError(line, "hex(...) needs a hexadecimal value type");
    rest.remove_prefix(close + 1);
  }
  if (rest.empty() || rest.front() != ':') throw RegFormatError(line, "hex data must follow a ':'");
  const auto bytes = ParseHexBytes(rest.substr(1));
  if (!bytes) throw RegFormatError(line, "hex data must be bytes such as 0a,ff separated by commas");
  if (*type == 1 || *type == 2) {
    if (auto text = TextFromUtf16Bytes(*bytes)) {
      value.kind = *type == 1 ? RegValueKind::kString : RegValueKind::kExpandString;
      value.text = std::move(*text);
    }
  }
  return value;
}

std::string HexValueText(std::string_view head, std::string_view bytes) {
  std::string out(head);
  std::size_t column = head.size();
  char digits[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
    std::string token = digits;
    if (i + 1 < bytes.size()) token += ',';
    if (column + token.size() > kHexLineWidth) {
      out += "\\";
      out += kCrLf;
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

std::string ValueText(const RegValue& value) {
  if (value.kind == RegValueKind::kComment) return value.raw;
  std::string head = value.name.empty() ? "@" : Quote(value.name);
  head += '=';
  if (!value.raw.empty()) {
    for (char c : value.raw) {
      if (c == '\n') {
        head += kCrLf;
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
        return HexValueText(head + "hex(1):", Utf16Bytes(value.text));
      }
      return head + Quote(value.text);
    case RegValueKind::kExpandString:
      return HexValueText(head + "hex(2):", Utf16Bytes(value.text));
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

RegFormatError::RegFormatError(int line, const std::string& message)
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

RegDocument ParseRegFile(std::string_view bytes) {
  const std::string text = Decode(bytes);
  const std::vector<std::string_view> lines = SplitLines(text);
  RegDocument document;
  std::optional<std::size_t> current;  // index of the key being read
  bool headerSeen = false;

  for (std::size_t index = 0; index < lines.size(); ++index) {
    const int lineNumber = static_cast<int>(index) + 1;
    const std::string_view line = Trim(lines[index]);
    if (line.empty()) continue;
    if (!headerSeen) {
      if (line != kHeader && line != kOldHeader) {
        throw RegFormatError(lineNumber, "the file must begin with \"" + std::string(kHeader) + "\"");
      }
      headerSeen = true;
      continue;
    }
    if (line.front() == ';') {
      RegValue comment{{}, RegValueKind::kComment, {}, 0, std::string(line)};
      if (current) {
        document.keys[*current].values.push_back(std::move(comment));
      } else {
        document.preamble.push_back(std::move(comment.raw));
      }
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) {
        throw RegFormatError(lineNumber, "a key line must be [path]");
      }
      const std::string_view path = line.substr(1, line.size() - 2);
      if (path.front() == '-') {
        throw RegFormatError(lineNumber, "key deletions ([-path]) do not belong in a registry file");
      }
      // A key listed twice is one key, as an import would make it.
      if (RegKey* existing = document.FindKey(path)) {
        current = static_cast<std::size_t>(existing - document.keys.data());
      } else {
        document.keys.push_back(RegKey{std::string(path), {}});
        current = document.keys.size() - 1;
      }
      continue;
    }
    if (line.front() != '"' && line.front() != '@') {
      throw RegFormatError(lineNumber, "expected [key], \"name\"=value, @=value or ;comment");
    }
    if (!current) throw RegFormatError(lineNumber, "a value before the first [key]");

    std::string_view rest = line;
    std::string name;
    if (rest.front() == '@') {
      rest.remove_prefix(1);
    } else {
      name = ReadQuoted(rest, lineNumber);
    }
    rest = Trim(rest);
    if (rest.empty() || rest.front() != '=') throw RegFormatError(lineNumber, "expected '=' after the name");
    rest = Trim(rest.substr(1));

    RegValue value;
    if (!rest.empty() && rest.front() == '"') {
      std::string text = ReadQuoted(rest, lineNumber);
      if (!Trim(rest).empty()) throw RegFormatError(lineNumber, "text after the closing quote");
      value = RegValue{std::move(name), RegValueKind::kString, std::move(text), 0, {}};
    } else if (StartsWithNoCase(rest, "dword:")) {
      const auto number = ParseHexNumber(Trim(rest.substr(6)), 8);
      if (!number) throw RegFormatError(lineNumber, "dword: needs up to 8 hexadecimal digits");
      value = RegValue{std::move(name), RegValueKind::kDword, {}, *number, {}};
    } else if (StartsWithNoCase(rest, "hex")) {
      // Hex data continues on the next line after a trailing backslash.
      std::string raw(rest);
      std::string joined;
      std::string_view segment = TrimRight(rest);
      while (!segment.empty() && segment.back() == '\\') {
        joined += segment.substr(0, segment.size() - 1);
        if (++index >= lines.size()) {
          throw RegFormatError(lineNumber, "the file ends inside continued hex data");
        }
        raw += '\n';
        raw += lines[index];
        segment = Trim(lines[index]);
      }
      joined += segment;
      value = ParseHexValue(std::move(name), joined, std::move(raw), lineNumber);
    } else if (rest == "-") {
      value = RegValue{std::move(name), RegValueKind::kOther, {}, 0, "-"};
    } else {
      throw RegFormatError(lineNumber, "unknown value: expected \"text\", dword:, hex: or hex(n):");
    }
    document.keys[*current].SetValue(std::move(value));
  }
  return document;
}

std::string FormatRegText(const RegDocument& document) {
  std::string out(kHeader);
  out += kCrLf;
  out += kCrLf;
  for (const std::string& comment : document.preamble) {
    out += comment;
    out += kCrLf;
  }
  if (!document.preamble.empty()) out += kCrLf;
  for (const RegKey& key : document.keys) {
    out += '[';
    out += key.path;
    out += ']';
    out += kCrLf;
    for (const RegValue& value : key.values) {
      out += ValueText(value);
      out += kCrLf;
    }
    out += kCrLf;
  }
  return out;
}

std::string SerializeRegFile(const RegDocument& document) {
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
