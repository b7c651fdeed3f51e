// Variant: the dynamically typed value that parameters, fields and dispatch arguments carry.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>

#include "platform/datetime.h"

namespace qar {

enum class TVarType { Empty, Null, Boolean, Integer, Double, Date, String, Unknown };

// Raised when a value cannot be converted to the type asked for.
class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value of one of the types above. Empty is the default ("no value assigned");
// Null is the database null. Unknown holds an opaque object reference (an interface
// handed through a call), which has no text or number form.
//
//   Variant v = 42;           v.AsString() == "42"
//   Variant d = Variant::FromDate(t);   d.AsString() follows the process's date settings
class Variant {
 public:
  Variant() = default;
  Variant(bool value) : value_(value) {}
  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  Variant(T value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(double value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}

  static Variant Null();
  static Variant FromDate(platform::TDateTime value);
  static Variant FromObject(std::shared_ptr<const void> object);

  TVarType Type() const;
  bool IsEmpty() const { return Type() == TVarType::Empty; }
  bool IsNull() const { return Type() == TVarType::Null; }

  // Conversions. Each raises EVariantError when the value has no such form
  // (an object, a text that is not a number, ...). Null and Empty convert to
  // empty text, and to 0 / false as numbers, as the framework does.
  std::string AsString() const;
  std::int64_t AsInt64() const;
  std::int32_t AsInteger() const;
  double AsDouble() const;
  bool AsBoolean() const;
  platform::TDateTime AsDateTime() const;

  // The object reference of an Unknown value, null otherwise.
  const std::shared_ptr<const void>& Object() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  struct DateValue {
    platform::TDateTime value;
    friend bool operator==(DateValue a, DateValue b) { return a.value == b.value; }
  };
  using Storage = std::variant<std::monostate, NullTag, bool, std::int64_t, double, DateValue,
                               std::string, std::shared_ptr<const void>>;
  explicit Variant(Storage value) : value_(std::move(value)) {}

  Storage value_;
};

// The general conversion of a value to text (the same as Variant::AsString).
inline std::string VarToStr(const Variant& value) { return value.AsString(); }

// The name of a variant type as error messages show it ("Integer", "String", ...).
std::string VarTypeName(TVarType type);

}  // namespace qar
