// Variant: the dynamically typed value that parameters, fields and dispatch arguments carry.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "framework/interface.h"
#include "platform/datetime.h"

namespace qar {

// The kind of a value, as the data layer sees it. Interfaces, error values and
// arrays are all Unknown here; VarType() tells them apart.
enum class TVarType { Empty, Null, Boolean, Integer, Double, Date, String, Unknown };

// The variant type codes of automation calls. The low 12 bits name the type; the
// flag bits above them mark an array of that type or a reference to a value of it.
inline constexpr std::uint16_t kVarEmpty = 0;
inline constexpr std::uint16_t kVarNull = 1;
inline constexpr std::uint16_t kVarSmallInt = 2;
inline constexpr std::uint16_t kVarInteger = 3;
inline constexpr std::uint16_t kVarSingle = 4;
inline constexpr std::uint16_t kVarDouble = 5;
inline constexpr std::uint16_t kVarCurrency = 6;
inline constexpr std::uint16_t kVarDate = 7;
inline constexpr std::uint16_t kVarOleStr = 8;
inline constexpr std::uint16_t kVarDispatch = 9;
inline constexpr std::uint16_t kVarError = 10;
inline constexpr std::uint16_t kVarBoolean = 11;
inline constexpr std::uint16_t kVarVariant = 12;
inline constexpr std::uint16_t kVarUnknown = 13;
inline constexpr std::uint16_t kVarShortInt = 16;
inline constexpr std::uint16_t kVarByte = 17;
inline constexpr std::uint16_t kVarWord = 18;
inline constexpr std::uint16_t kVarLongWord = 19;
inline constexpr std::uint16_t kVarInt64 = 20;
inline constexpr std::uint16_t kVarUInt64 = 21;
inline constexpr std::uint16_t kVarTypeMask = 0x0FFF;
inline constexpr std::uint16_t kVarArray = 0x2000;
inline constexpr std::uint16_t kVarByRef = 0x4000;

// The integer type code of a C++ integer type.
template <class T>
constexpr std::uint16_t IntegerVarType() {
  if constexpr (sizeof(T) == 1) return std::is_signed_v<T> ? kVarShortInt : kVarByte;
  else if constexpr (sizeof(T) == 2) return std::is_signed_v<T> ? kVarSmallInt : kVarWord;
  else if constexpr (sizeof(T) == 4) return std::is_signed_v<T> ? kVarInteger : kVarLongWord;
  else return std::is_signed_v<T> ? kVarInt64 : kVarUInt64;
}

class Variant;
struct TVariantArray;
bool operator==(const TVariantArray& a, const TVariantArray& b);

// Raised when a value cannot be converted to the type asked for.
class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when a value has the right kind but does not fit the type asked for: a
// number out of an integer's range, a date that is no date (NaN, infinite, or
// outside 0001-01-01 .. 9999-12-31).
class EVariantOverflow : public EVariantError {
 public:
  using EVariantError::EVariantError;
};

// A value of one of the types above. Empty is the default ("no value assigned");
// Null is the database null. Unknown holds an opaque object reference (an interface
// handed through a call), an error value, or an array: none has a text or number form.
// Each value also keeps its exact type code (VarType), so an int arrives as
// kVarInteger and a string as kVarOleStr.
//
//   Variant v = 42;           v.AsString() == "42", v.VarType() == kVarInteger
//   Variant d = Variant::FromDate(t);   d.AsString() follows the process's date settings
//   Variant r = Variant::ByRef(v);      reads through to v; VarType() == kVarByRef | kVarVariant
class Variant {
 public:
  Variant() = default;
  Variant(bool value) : value_(value), vt_(kVarBoolean) {}
  // An unsigned 64-bit value keeps its sign: 2^64-1 stays 2^64-1.
  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>)
  Variant(T value) : value_(IntegerStorage(value)), vt_(IntegerVarType<T>()) {}
  Variant(double value) : value_(value), vt_(kVarDouble) {}
  Variant(float value) : value_(static_cast<double>(value)), vt_(kVarSingle) {}
  Variant(std::string value) : value_(std::move(value)), vt_(kVarOleStr) {}
  Variant(const char* value) : value_(std::string(value)), vt_(kVarOleStr) {}

  static Variant Null();
  static Variant FromDate(platform::TDateTime value);
  static Variant FromObject(std::shared_ptr<const void> object);
  // A counted interface reference; `varType` is kVarUnknown or kVarDispatch.
  static Variant FromInterface(TComPtr<IUnknown> object, std::uint16_t varType = kVarUnknown);
  // An error value (a 32-bit result code), as a caller sends for an omitted argument.
  static Variant Error(HResult code);
  // A one-dimensional array of variants whose first index is `lowBound`.
  static Variant Array(std::vector<Variant> items, std::int32_t lowBound = 0);
  // A reference to `target`, which must outlive the reference. Reading the value reads
  // the target; the callee may assign through Target(). A reference to a reference
  // reads (and assigns) the value at the end of the chain.
  static Variant ByRef(Variant& target);

  TVarType Type() const;
  // The exact type code with its flag bits.
  std::uint16_t VarType() const { return vt_; }
  bool IsEmpty() const { return Type() == TVarType::Empty; }
  bool IsNull() const { return Type() == TVarType::Null; }
  bool IsByRef() const { return (vt_ & kVarByRef) != 0; }

  // The value at the end of a chain of references; the variant itself when it is no
  // reference. A chain that returns to itself or is deeper than kMaxRefDepth raises
  // EVariantError.
  const Variant& Deref() const;
  // The variant at the end of a reference chain, null for a variant that is no reference.
  Variant* Target() const;
  // A copy that refers to nothing of the caller's: every reference (also inside
  // arrays) replaced by the value it reads. What a call keeps of a client's value.
  Variant Detached() const;
  static constexpr int kMaxRefDepth = 16;

  // Conversions. Each raises EVariantError when the value has no such form
  // (an object, a text that is not a number, ...). Null and Empty convert to
  // empty text, and to 0 / false as numbers, as the framework does.
  std::string AsString() const;
  // Integers convert exactly; fractions round half to even; a value out of range
  // raises EVariantOverflow.
  std::int64_t AsInt64() const;
  std::uint64_t AsUInt64() const;
  std::int32_t AsInteger() const;
  double AsDouble() const;
  bool AsBoolean() const;
  // A date out of the representable range (NaN, infinite, ...) raises EVariantOverflow.
  platform::TDateTime AsDateTime() const;

  // The object reference of an Unknown value, null otherwise.
  const std::shared_ptr<const void>& Object() const;
  // The interface of an interface value, null otherwise.
  const TComPtr<IUnknown>& Interface() const;
  // The code of an error value, 0 otherwise.
  HResult ErrorCode() const;
  // The items and first index of an array (an empty list for anything else).
  const std::vector<Variant>& ArrayItems() const;
  std::int32_t ArrayLowBound() const;

  // Same type and value; arrays compare item by item, references by their target.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  struct DateValue {
    platform::TDateTime value;
    friend bool operator==(DateValue a, DateValue b) { return a.value == b.value; }
  };
  struct ErrorValue {
    HResult code;
    friend bool operator==(ErrorValue a, ErrorValue b) { return a.code == b.code; }
  };
  struct RefValue {
    Variant* target;
    friend bool operator==(RefValue a, RefValue b) { return a.target == b.target; }
  };
  struct ArrayValue {
    std::shared_ptr<const TVariantArray> array;
    friend bool operator==(const ArrayValue& a, const ArrayValue& b) { return *a.array == *b.array; }
  };
  using Storage = std::variant<std::monostate, NullTag, bool, std::int64_t, double, DateValue,
                               std::string, std::shared_ptr<const void>, TComPtr<IUnknown>,
                               ErrorValue, ArrayValue, RefValue, std::uint64_t>;
  Variant(Storage value, std::uint16_t vt) : value_(std::move(value)), vt_(vt) {}
  template <class T>
  static Storage IntegerStorage(T value) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8) return Storage(static_cast<std::uint64_t>(value));
    else return Storage(static_cast<std::int64_t>(value));
  }
  bool HoldsReference() const;

  Storage value_;
  std::uint16_t vt_ = kVarEmpty;
};

// The contents of an array value.
struct TVariantArray {
  std::int32_t lowBound = 0;
  std::vector<Variant> items;
};

// The general conversion of a value to text (the same as Variant::AsString).
inline std::string VarToStr(const Variant& value) { return value.AsString(); }

// The name of a variant type as error messages show it ("Integer", "String", ...).
std::string VarTypeName(TVarType type);

}  // namespace qar
