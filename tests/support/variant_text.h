// Variants written as text, for readable test expectations and fuzz inputs:
//   Empty  Null  True  False  12 (Integer)  12L (Int64)  12S (2-byte integer)
//   12U (unsigned 64-bit)  2.5 NaN Inf -Inf (Double)  #45000.5# #NaN# (Date)
//   "text" ("" for a quote)  [item, item, ...] (array)  &item (a caller's variable
//   holding item, passed by reference; the reader keeps the variables)
#pragma once

#include <cmath>
#include <cstdlib>
#include <deque>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "framework/variant.h"

namespace qar {

inline std::string VariantText(const Variant& value) {
  const Variant& v = value.Deref();
  const std::uint16_t code = v.VarType();
  if ((code & kVarArray) != 0) {
    std::string text = "[";
    for (const Variant& item : v.ArrayItems()) text += (text.size() > 1 ? ", " : "") + VariantText(item);
    return text + "]";
  }
  switch (code) {
    case kVarEmpty: return "Empty";
    case kVarNull: return "Null";
    case kVarBoolean: return v.AsBoolean() ? "True" : "False";
    case kVarInteger: return v.AsString();
    case kVarInt64: return v.AsString() + "L";
    case kVarSmallInt: return v.AsString() + "S";
    case kVarUInt64: return v.AsString() + "U";
    case kVarDate: return "#" + Variant(v.AsDouble()).AsString() + "#";
    case kVarOleStr: {
      std::string text = "\"";
      for (char c : v.AsString()) text += c == '"' ? std::string("\"\"") : std::string(1, c);
      return text + "\"";
    }
    default:
      if (v.Type() == TVarType::Double) {
        std::string text = v.AsString();
        return text.find_first_of(".eEN") == std::string::npos ? text + ".0" : text;
      }
      return "<type " + std::to_string(code) + ">";
  }
}

// gtest prints variants this way.
inline void PrintTo(const Variant& value, std::ostream* out) { *out << VariantText(value); }

// Reads the notation; throws std::invalid_argument on anything else. Arrays and
// references nest at most `depth` deep. What "&" refers to lives as long as the reader.
class TVariantTextReader {
 public:
  explicit TVariantTextReader(std::string_view text, int depth = 8) : text_(text), depth_(depth) {}

  Variant Read() {
    Variant value = Value(0);
    Blanks();
    if (at_ != text_.size()) Fail();
    return value;
  }

 private:
  [[noreturn]] void Fail() const { throw std::invalid_argument("not a variant at " + std::to_string(at_)); }
  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n')) ++at_;
  }
  bool Take(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  Variant Value(int level) {
    Blanks();
    if (Take("&")) {
      if (level >= depth_) Fail();
      variables_.push_back(Value(level + 1));
      return Variant::ByRef(variables_.back());
    }
    if (Take("NaN")) return Variant(std::nan(""));
    if (Take("Inf")) return Variant(HUGE_VAL);
    if (Take("-Inf")) return Variant(-HUGE_VAL);
    if (Take("#NaN#")) return Variant::FromDate(std::nan(""));
    if (Take("Empty")) return Variant();
    if (Take("Null")) return Variant::Null();
    if (Take("True")) return Variant(true);
    if (Take("False")) return Variant(false);
    if (Take("[")) {
      if (level >= depth_) Fail();
      std::vector<Variant> items;
      Blanks();
      if (Take("]")) return Variant::Array(std::move(items));
      do items.push_back(Value(level + 1));
      while ((Blanks(), Take(",")));
      if (!Take("]")) Fail();
      return Variant::Array(std::move(items));
    }
    if (Take("\"")) {
      std::string text;
      for (;;) {
        if (at_ >= text_.size()) Fail();
        if (text_[at_] == '"' && !(at_ + 1 < text_.size() && text_[at_ + 1] == '"')) break;
        if (text_[at_] == '"') ++at_;
        text += text_[at_++];
      }
      ++at_;
      return Variant(std::move(text));
    }
    const bool date = Take("#");
    const std::size_t start = at_;
    while (at_ < text_.size() && std::string_view("+-.0123456789e").find(text_[at_]) != std::string_view::npos) ++at_;
    const std::string number(text_.substr(start, at_ - start));
    if (number.empty()) Fail();
    char* end = nullptr;
    if (date || number.find_first_of(".e") != std::string::npos) {
      const double value = std::strtod(number.c_str(), &end);
      if (end != number.c_str() + number.size() || (date && !Take("#"))) Fail();
      return date ? Variant::FromDate(value) : Variant(value);
    }
    if (number[0] != '-' && number[0] != '+' && text_.substr(at_, 1) == "U") {
      const unsigned long long value = std::strtoull(number.c_str(), &end, 10);
      if (end != number.c_str() + number.size()) Fail();
      ++at_;
      return Variant(static_cast<std::uint64_t>(value));
    }
    const long long value = std::strtoll(number.c_str(), &end, 10);
    if (end != number.c_str() + number.size()) Fail();
    if (Take("L")) return Variant(static_cast<std::int64_t>(value));
    if (Take("S")) return Variant(static_cast<std::int16_t>(value));
    return Variant(static_cast<std::int32_t>(value));
  }

  std::string_view text_;
  int depth_;
  std::size_t at_ = 0;
  std::deque<Variant> variables_;  // a deque keeps them where they are
};

// Without "&": the reader and its variables end here.
inline Variant V(std::string_view text) { return TVariantTextReader(text).Read(); }

}  // namespace qar
