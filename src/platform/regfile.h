// The Windows registry export format (.reg): a pure parser and serialiser of its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qar::platform {

enum class RegValueKind {
  kString,        // "text", or hex(1): (REG_SZ)
  kExpandString,  // hex(2): (REG_EXPAND_SZ)
  kDword,         // dword:0000000a (REG_DWORD)
  kOther,         // any other kind (hex:, hex(7):, hex(b):, ...), kept verbatim
  kComment,       // a ';' comment line, kept where it stood
};

// One line (or continued lines) of a key's block. All texts are UTF-8, so that
// whatever another program stored survives a rewrite; callers convert at their edge.
struct RegValue {
  std::string name;  // empty: the key's default value, written @
  RegValueKind kind = RegValueKind::kString;
  std::string text;  // kString, kExpandString: the value
  std::uint32_t dword = 0;
  // The source text after '=' (continuation lines joined by '\n'), or a comment's
  // whole line. While set, the serialiser writes it back unchanged; values built
  // in code leave it empty.
  std::string raw;
};

// One [key] block: the path as written between the brackets, such as
// "HKEY_LOCAL_MACHINE\Software\X". Names are compared ignoring the case of a-z only.
struct RegKey {
  std::string path;
  std::vector<RegValue> values;

  RegValue* FindValue(std::string_view name);
  const RegValue* FindValue(std::string_view name) const;
  // Replaces the value of that name where it stands (keeping the stored name's
  // case, as the registry does) or appends it.
  void SetValue(RegValue value);
  bool RemoveValue(std::string_view name);
};

// How a file's bytes are written: kept from the file read, so that a rewrite leaves
// an administrator's UTF-8 file in UTF-8 and its line ends as they were.
enum class RegEncoding {
  kUtf16Le,  // with BOM, as the registry editor exports (and a new file)
  kUtf8,
  kUtf8Bom,
  kAnsi,  // the older REGEDIT4 export in the ANSI code page
};

// A whole file. A key exists when it has a block or when a block lies below it,
// because a hand-written file need not list every parent.
struct RegDocument {
  RegEncoding encoding = RegEncoding::kUtf16Le;
  bool crlf = true;  // line ends CR LF, else LF
  std::vector<std::string> preamble;  // comment lines before the first key
  std::vector<RegKey> keys;

  RegKey* FindKey(std::string_view path);
  const RegKey* FindKey(std::string_view path) const;
  bool HasKey(std::string_view path) const;
  // The block of `path`, added after its nearest relative when missing.
  RegKey& AddKey(std::string_view path);
  // Removes the key and every key below it; returns how many blocks went.
  std::size_t RemoveKeyTree(std::string_view path);
};

// A file that is not in the format; Line() is 1-based.
class ERegFormatError : public std::runtime_error {
 public:
  ERegFormatError(int line, const std::string& message);
  int Line() const { return line_; }

 private:
  int line_;
};

// Parses a file's bytes: UTF-16LE with BOM (as the registry editor exports), or UTF-8
// with or without BOM. The header is "Windows Registry Editor Version 5.00" (or the
// older "REGEDIT4"); an empty file is an empty document. The document records the
// encoding and line ends found. Throws ERegFormatError, with a message that names
// the usual mistakes of an editor: UTF-16 without its byte-order mark, UTF-16
// big-endian, lines ended by CR alone.
RegDocument ParseRegFile(std::string_view bytes);

// The document as registry editor text (UTF-8, the document's line ends).
std::string FormatRegText(const RegDocument& document);

// The document as a file in its encoding and line ends. A REGEDIT4 document holding
// text with no ANSI form is written as UTF-8 with the newer header instead, so
// nothing is lost.
std::string SerializeRegFile(const RegDocument& document);

}  // namespace qar::platform
