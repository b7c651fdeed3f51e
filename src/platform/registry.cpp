// What the registry can hold and give back unchanged, the same rule on every system.
#include "platform/registry.h"

#include <algorithm>

namespace qar::platform {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;     // one key of a path, as Windows limits it
constexpr std::size_t kMaxValueNameLength = 16383;  // as Windows limits a value name

const char* ControlNote(char c) {
  switch (c) {
    case '\0':
      return "a NUL character";
    case '\n':
    case '\r':
      return "a line break";
    default:
      return "a control character";
  }
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// The ANSI calls end a name at a NUL and the settings file keeps one name per line,
// so a name is one line of printable text.
std::string NameProblem(std::string_view name, const char* what) {
  const auto control = std::find_if(name.begin(), name.end(), IsControl);
  if (control == name.end()) return {};
  return std::string(what) + " holds " + ControlNote(*control) + " at position " +
         std::to_string(control - name.begin() + 1) + "; the registry cannot keep it";
}

}  // namespace

std::string KeyPathProblem(std::string_view path) {
  if (std::string problem = NameProblem(path, "the key path"); !problem.empty()) return problem;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end - start > kMaxKeyNameLength) {
      return "a key name in the path is longer than " + std::to_string(kMaxKeyNameLength) + " characters";
    }
    start = end + 1;
  }
  return {};
}

std::string ValueNameProblem(std::string_view name) {
  if (name.size() > kMaxValueNameLength) {
    return "the value name is longer than " + std::to_string(kMaxValueNameLength) + " characters";
  }
  return NameProblem(name, "the value name");
}

std::string TextValueProblem(std::string_view text) {
  // A string value ends at its first NUL when it is read; the rest would be lost.
  const std::size_t nul = text.find('\0');
  if (nul == std::string_view::npos) return {};
  return "the text holds a NUL character at position " + std::to_string(nul + 1) +
         "; a string value ends there, so it is refused";
}

}  // namespace qar::platform
