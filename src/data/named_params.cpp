#include "data/named_params.h"

#include "platform/text.h"

namespace qar {

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

bool IsNameDelimiter(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

bool IsLead(std::string_view text, std::size_t p) {
  return p < text.size() && platform::IsLeadByte(static_cast<unsigned char>(text[p]));
}

std::string Unquoted(std::string name) {
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
    return name.substr(1, name.size() - 2);
  return name;
}

}  // namespace

TNamedParamText ParseNamedParams(std::string_view text) {
  TNamedParamText result;
  result.text.reserve(text.size());
  bool inLiteral = false;
  std::size_t p = 0;
  const std::size_t n = text.size();
  while (p < n) {
    if (IsLead(text, p)) {
      result.text.append(text.substr(p, 2));
      p += 2;
      continue;
    }
    const char c = text[p];
    const char next = p + 1 < n ? text[p + 1] : '\0';
    if (c == ':' && !inLiteral && next != ':') {
      std::size_t q = p + 1;
      while (q < n) {
        if (IsLead(text, q)) {
          q += 2;
          continue;
        }
        const char d = text[q];
        if (!inLiteral && IsNameDelimiter(d)) break;
        if (IsQuote(d)) inLiteral = !inLiteral;
        ++q;
      }
      if (q > n) q = n;
      result.names.push_back(Unquoted(std::string(text.substr(p + 1, q - p - 1))));
      result.text += '?';
      p = q;
      continue;
    }
    if (c == ':' && !inLiteral && next == ':') {
      result.text += ':';
      p += 2;
      continue;
    }
    if (IsQuote(c)) inLiteral = !inLiteral;
    result.text += c;
    ++p;
  }
  return result;
}

}  // namespace qar
