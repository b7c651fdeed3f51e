// ClientIdentity: who makes an automation call (operator, host, application) and which method.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qar::diagnostics {

// A single-byte (ANSI) text of at most N characters, like a length-prefixed field:
// a longer text is cut to its first N characters when it is stored.
//
//   TShortString<12> op = "MARIA DA SILVA SANTOS";   // holds "MARIA DA SIL"
//   std::string_view text = op;
template <std::size_t N>
class TShortString {
 public:
  static constexpr std::size_t kMaxLength = N;

  TShortString() = default;
  TShortString(std::string_view text) : text_(text.substr(0, N)) {}
  TShortString(const std::string& text) : TShortString(std::string_view(text)) {}
  TShortString(const char* text) : TShortString(std::string_view(text)) {}

  const std::string& Str() const { return text_; }
  operator std::string_view() const { return text_; }
  bool Empty() const { return text_.empty(); }

  friend bool operator==(const TShortString&, const TShortString&) = default;

 private:
  std::string text_;
};

// The caller identity of one automation call, taken from the call's identity
// argument. The SQL execution monitor holds one by value and prints it; the log
// file names are built from Operator, Application and Host. Each field keeps at
// most its stated number of characters.
//
//   ClientIdentity identity;
//   identity.Host = "PDV01";
//   identity.Application = "CAIXA";
//   identity.Operator = "MARIA";          // empty for callers that send none
//   identity.Method = "GravaPedido";
struct ClientIdentity {
  TShortString<12> Operator;
  TShortString<15> Host;
  TShortString<10> Application;
  TShortString<255> Method;

  friend bool operator==(const ClientIdentity&, const ClientIdentity&) = default;
};

}  // namespace qar::diagnostics
