#include "framework/variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/text.h"

namespace qar {

namespace {

[[noreturn]] void ConversionError(TVarType from, const char* to) {
  throw EVariantError("Could not convert variant of type (" + VarTypeName(from) + ") into type (" +
                      to + ")");
}

[[noreturn]] void OverflowError(TVarType from, const char* to) {
  throw EVariantOverflow("Overflow while converting variant of type (" + VarTypeName(from) +
                         ") into type (" + to + ")");
}

// 2^63 and 2^64 are exact doubles; every double below them (and at or above -2^63)
// converts without undefined behaviour.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

platform::TDateTime CheckedDate(double value) {
  if (!platform::IsValidDateTime(value)) OverflowError(TVarType::Date, "Date");
  return value;
}

std::string FloatToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::string Trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

}  // namespace

Variant Variant::Null() { return Variant(Storage(NullTag{}), kVarNull); }

Variant Variant::FromDate(platform::TDateTime value) {
  return Variant(Storage(DateValue{value}), kVarDate);
}

Variant Variant::FromObject(std::shared_ptr<const void> object) {
  return Variant(Storage(std::move(object)), kVarUnknown);
}

Variant Variant::FromInterface(TComPtr<IUnknown> object, std::uint16_t varType) {
  return Variant(Storage(std::move(object)), varType);
}

Variant Variant::Error(HResult code) { return Variant(Storage(ErrorValue{code}), kVarError); }

Variant Variant::Array(std::vector<Variant> items, std::int32_t lowBound) {
  auto array = std::make_shared<TVariantArray>(TVariantArray{lowBound, std::move(items)});
  return Variant(Storage(ArrayValue{std::move(array)}), kVarArray | kVarVariant);
}

Variant Variant::ByRef(Variant& target) {
  return Variant(Storage(RefValue{&target}), kVarByRef | kVarVariant);
}

const Variant& Variant::Deref() const {
  const Variant* target = Target();
  return target != nullptr ? *target : *this;
}

Variant* Variant::Target() const {
  const RefValue* ref = std::get_if<RefValue>(&value_);
  if (ref == nullptr) return nullptr;
  Variant* target = ref->target;
  for (int depth = 1; const RefValue* next = std::get_if<RefValue>(&target->value_); ++depth) {
    if (depth >= kMaxRefDepth)
      throw EVariantError("A reference leads back to itself or through more than " +
                          std::to_string(kMaxRefDepth) + " references");
    target = next->target;
  }
  return target;
}

bool Variant::HoldsReference() const {
  if (std::holds_alternative<RefValue>(value_)) return true;
  const auto* array = std::get_if<ArrayValue>(&value_);
  if (array == nullptr) return false;
  for (const Variant& item : array->array->items)
    if (item.HoldsReference()) return true;
  return false;
}

Variant Variant::Detached() const {
  const Variant& value = Deref();
  if (!value.HoldsReference()) return value;
  // Only an array can still hold references here: copy it with detached items.
  const auto& array = std::get<ArrayValue>(value.value_).array;
  std::vector<Variant> items;
  items.reserve(array->items.size());
  for (const Variant& item : array->items) items.push_back(item.Detached());
  auto copy = std::make_shared<TVariantArray>(TVariantArray{array->lowBound, std::move(items)});
  return Variant(Storage(ArrayValue{std::move(copy)}), value.vt_);
}

TVarType Variant::Type() const {
  if (IsByRef()) return Deref().Type();
  switch (value_.index()) {
    case 0: return TVarType::Empty;
    case 1: return TVarType::Null;
    case 2: return TVarType::Boolean;
    case 3: return TVarType::Integer;
    case 4: return TVarType::Double;
    case 5: return TVarType::Date;
    case 6: return TVarType::String;
    case 12: return TVarType::Integer;  // unsigned 64-bit
    default: return TVarType::Unknown;
  }
}

std::string Variant::AsString() const {
  if (IsByRef()) return Deref().AsString();
  switch (Type()) {
    case TVarType::Empty:
    case TVarType::Null: return {};
    case TVarType::Boolean: return std::get<bool>(value_) ? "True" : "False";
    case TVarType::Integer:
      if (const auto* u = std::get_if<std::uint64_t>(&value_)) return std::to_string(*u);
      return std::to_string(std::get<std::int64_t>(value_));
    case TVarType::Double: return FloatToText(std::get<double>(value_));
    case TVarType::Date: {
      // The short date always; the time only when the value is not exactly midnight.
      const platform::TDateTime value = CheckedDate(std::get<DateValue>(value_).value);
      std::string text = platform::FormatDateTime(platform::ShortDateFormat(), value);
      const platform::DateTimeParts parts = platform::DecodeDateTime(value);
      if (parts.hour != 0 || parts.minute != 0 || parts.second != 0)
        text += " " + platform::FormatDateTime(platform::LongTimeFormat(), value);
      return text;
    }
    case TVarType::String: return std::get<std::string>(value_);
    case TVarType::Unknown: break;
  }
  ConversionError(Type(), "String");
}

std::int64_t Variant::AsInt64() const {
  if (IsByRef()) return Deref().AsInt64();
  switch (Type()) {
    case TVarType::Empty:
    case TVarType::Null: return 0;
    case TVarType::Boolean: return std::get<bool>(value_) ? -1 : 0;
    case TVarType::Integer:
      if (const auto* u = std::get_if<std::uint64_t>(&value_)) {
        if (*u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
          OverflowError(Type(), "Int64");
        return static_cast<std::int64_t>(*u);
      }
      return std::get<std::int64_t>(value_);
    case TVarType::Double:
    case TVarType::Date: {
      const double value = Type() == TVarType::Double ? std::get<double>(value_)
                                                      : CheckedDate(std::get<DateValue>(value_).value);
      const double rounded = std::nearbyint(value);
      if (std::isnan(rounded)) ConversionError(Type(), "Int64");
      if (!(rounded >= -kTwoTo63 && rounded < kTwoTo63)) OverflowError(Type(), "Int64");
      return static_cast<std::int64_t>(rounded);
    }
    case TVarType::String: {
      const std::string text = Trimmed(std::get<std::string>(value_));
      if (text.empty()) ConversionError(Type(), "Int64");
      errno = 0;
      char* end = nullptr;
      const long long value = std::strtoll(text.c_str(), &end, 10);
      if (end != text.c_str() + text.size()) ConversionError(Type(), "Int64");
      if (errno == ERANGE) OverflowError(Type(), "Int64");
      return value;
    }
    case TVarType::Unknown: break;
  }
  ConversionError(Type(), "Int64");
}

std::uint64_t Variant::AsUInt64() const {
  if (IsByRef()) return Deref().AsUInt64();
  if (const auto* u = std::get_if<std::uint64_t>(&value_)) return *u;
  switch (Type()) {
    case TVarType::Double:
    case TVarType::Date: {
      const double value = Type() == TVarType::Double ? std::get<double>(value_)
                                                      : CheckedDate(std::get<DateValue>(value_).value);
      const double rounded = std::nearbyint(value);
      if (std::isnan(rounded)) ConversionError(Type(), "UInt64");
      if (!(rounded >= 0 && rounded < kTwoTo64)) OverflowError(Type(), "UInt64");
      return static_cast<std::uint64_t>(rounded);
    }
    case TVarType::String: {
      const std::string text = Trimmed(std::get<std::string>(value_));
      if (text.empty() || text[0] == '-') {
        // strtoull would wrap a negative text around; a negative number is out of range.
        AsInt64();
        OverflowError(Type(), "UInt64");
      }
      errno = 0;
      char* end = nullptr;
      const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
      if (end != text.c_str() + text.size()) ConversionError(Type(), "UInt64");
      if (errno == ERANGE) OverflowError(Type(), "UInt64");
      return value;
    }
    default: {
      const std::int64_t value = AsInt64();
      if (value < 0) OverflowError(Type(), "UInt64");
      return static_cast<std::uint64_t>(value);
    }
  }
}

std::int32_t Variant::AsInteger() const {
  const std::int64_t value = AsInt64();
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    OverflowError(Type(), "Integer");
  return static_cast<std::int32_t>(value);
}

double Variant::AsDouble() const {
  if (IsByRef()) return Deref().AsDouble();
  switch (Type()) {
    case TVarType::Empty:
    case TVarType::Null: return 0;
    case TVarType::Boolean: return std::get<bool>(value_) ? -1 : 0;
    case TVarType::Integer:
      if (const auto* u = std::get_if<std::uint64_t>(&value_)) return static_cast<double>(*u);
      return static_cast<double>(std::get<std::int64_t>(value_));
    case TVarType::Double: return std::get<double>(value_);
    case TVarType::Date: return std::get<DateValue>(value_).value;
    case TVarType::String: {
      const std::string text = Trimmed(std::get<std::string>(value_));
      if (text.empty()) ConversionError(Type(), "Double");
      char* end = nullptr;
      const double value = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size()) ConversionError(Type(), "Double");
      return value;
    }
    case TVarType::Unknown: break;
  }
  ConversionError(Type(), "Double");
}

bool Variant::AsBoolean() const {
  if (IsByRef()) return Deref().AsBoolean();
  if (Type() == TVarType::String) {
    const std::string text = Trimmed(std::get<std::string>(value_));
    if (platform::SameTextAscii(text, "True")) return true;
    if (platform::SameTextAscii(text, "False")) return false;
  }
  return AsDouble() != 0;
}

platform::TDateTime Variant::AsDateTime() const {
  if (IsByRef()) return Deref().AsDateTime();
  if (Type() == TVarType::String) ConversionError(Type(), "Date");
  const double value = AsDouble();
  if (!platform::IsValidDateTime(value)) OverflowError(Type(), "Date");
  return value;
}

const std::shared_ptr<const void>& Variant::Object() const {
  static const std::shared_ptr<const void> kNone;
  const auto* object = std::get_if<std::shared_ptr<const void>>(&Deref().value_);
  return object != nullptr ? *object : kNone;
}

const TComPtr<IUnknown>& Variant::Interface() const {
  static const TComPtr<IUnknown> kNone;
  const auto* object = std::get_if<TComPtr<IUnknown>>(&Deref().value_);
  return object != nullptr ? *object : kNone;
}

HResult Variant::ErrorCode() const {
  const auto* error = std::get_if<ErrorValue>(&Deref().value_);
  return error != nullptr ? error->code : 0;
}

const std::vector<Variant>& Variant::ArrayItems() const {
  static const std::vector<Variant> kNone;
  const auto* array = std::get_if<ArrayValue>(&Deref().value_);
  return array != nullptr ? array->array->items : kNone;
}

std::int32_t Variant::ArrayLowBound() const {
  const auto* array = std::get_if<ArrayValue>(&Deref().value_);
  return array != nullptr ? array->array->lowBound : 0;
}

bool operator==(const TVariantArray& a, const TVariantArray& b) {
  return a.lowBound == b.lowBound && a.items == b.items;
}

bool operator==(const Variant& a, const Variant& b) { return a.value_ == b.value_; }

std::string VarTypeName(TVarType type) {
  switch (type) {
    case TVarType::Empty: return "Empty";
    case TVarType::Null: return "Null";
    case TVarType::Boolean: return "Boolean";
    case TVarType::Integer: return "Int64";
    case TVarType::Double: return "Double";
    case TVarType::Date: return "Date";
    case TVarType::String: return "String";
    case TVarType::Unknown: return "Unknown";
  }
  return "Unknown";
}

}  // namespace qar
