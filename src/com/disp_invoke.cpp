// DispInvoke, the argument conversions it applies, and dispatch arguments in call order.
#include <cmath>
#include <limits>

#include "com/dispatch.h"
#include "platform/datetime.h"

namespace qar::com {

namespace {

// Bounds that are exact doubles, so comparisons with them are exact.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The integer range a type code holds; false for codes that are no integer.
struct TIntegerRange {
  std::int64_t low;
  std::uint64_t high;
};
bool IntegerRange(std::uint16_t varType, TIntegerRange& range) {
  switch (varType) {
    case kVarShortInt: range = {-128, 127}; return true;
    case kVarByte: range = {0, 255}; return true;
    case kVarSmallInt: range = {-32768, 32767}; return true;
    case kVarWord: range = {0, 65535}; return true;
    case kVarInteger: range = {std::numeric_limits<std::int32_t>::min(), 2147483647u}; return true;
    case kVarLongWord: range = {0, 4294967295u}; return true;
    case kVarInt64: range = {std::numeric_limits<std::int64_t>::min(), 9223372036854775807u}; return true;
    case kVarUInt64: range = {0, std::numeric_limits<std::uint64_t>::max()}; return true;
    default: return false;
  }
}

// A whole number as exactly as the source holds it: a negative one in `negative`,
// any other in `positive`.
struct TWhole {
  bool isNegative = false;
  std::int64_t negative = 0;
  std::uint64_t positive = 0;
};

TWhole WholeOf(const Variant& from) {
  const TVarType type = from.Type();
  if (type == TVarType::Integer || type == TVarType::String) {
    try {
      const std::int64_t value = from.AsInt64();
      return value < 0 ? TWhole{true, value, 0} : TWhole{false, 0, static_cast<std::uint64_t>(value)};
    } catch (const EVariantOverflow&) {
      return TWhole{false, 0, from.AsUInt64()};  // a negative one overflows here too
    } catch (const EVariantError&) {
      if (type == TVarType::Integer) throw;
      // A text with a fraction or an exponent: rounded below.
    }
  }
  // Texts and fractions round to the nearest integer, halves to even.
  const double number = std::nearbyint(from.AsDouble());
  if (!(number >= -kTwoTo63 && number < kTwoTo64)) throw EVariantOverflow("Number out of range");
  if (number < 0) return TWhole{true, static_cast<std::int64_t>(number), 0};
  return TWhole{false, 0, static_cast<std::uint64_t>(number)};
}

template <class T>
T Narrowed(const TWhole& whole) {
  return whole.isNegative ? static_cast<T>(whole.negative) : static_cast<T>(whole.positive);
}

Variant IntegerOfType(const TWhole& whole, std::uint16_t varType) {
  switch (varType) {
    case kVarShortInt: return Variant(Narrowed<std::int8_t>(whole));
    case kVarByte: return Variant(Narrowed<std::uint8_t>(whole));
    case kVarSmallInt: return Variant(Narrowed<std::int16_t>(whole));
    case kVarWord: return Variant(Narrowed<std::uint16_t>(whole));
    case kVarInteger: return Variant(Narrowed<std::int32_t>(whole));
    case kVarLongWord: return Variant(Narrowed<std::uint32_t>(whole));
    case kVarUInt64: return Variant(Narrowed<std::uint64_t>(whole));
    default: return Variant(Narrowed<std::int64_t>(whole));
  }
}

// False when a date in `value` (an array's items included) is no representable date.
bool DatesValid(const Variant& value) {
  const Variant& v = value.Deref();
  if (v.VarType() == kVarDate) return platform::IsValidDateTime(v.AsDouble());
  for (const Variant& item : v.ArrayItems())
    if (!DatesValid(item)) return false;
  return true;
}

HResult ChangeTypeOrThrow(const Variant& value, std::uint16_t varType, Variant& converted) {
  const Variant& from = value.Deref();
  // A date that is no date enters nowhere, whatever the parameter's type.
  if (!DatesValid(from)) return kDISP_E_OVERFLOW;
  if (varType == kVarVariant) {
    converted = from.Detached();
    return kS_OK;
  }
  if (from.VarType() == varType) {
    converted = from;
    return kS_OK;
  }
  if (from.Type() == TVarType::Null || from.Type() == TVarType::Unknown) return kDISP_E_TYPEMISMATCH;
  TIntegerRange range{};
  if (IntegerRange(varType, range)) {
    const TWhole whole = WholeOf(from);
    const bool fits = whole.isNegative ? whole.negative >= range.low : whole.positive <= range.high;
    if (!fits) return kDISP_E_OVERFLOW;
    converted = IntegerOfType(whole, varType);
    return kS_OK;
  }
  switch (varType) {
    case kVarOleStr: converted = from.AsString(); return kS_OK;
    case kVarBoolean: converted = from.AsBoolean(); return kS_OK;
    case kVarDouble: converted = from.AsDouble(); return kS_OK;
    case kVarSingle: {
      const double number = from.AsDouble();
      if (std::isfinite(number) && std::fabs(number) > std::numeric_limits<float>::max())
        return kDISP_E_OVERFLOW;
      converted = static_cast<float>(number);
      return kS_OK;
    }
    case kVarDate: converted = Variant::FromDate(from.AsDateTime()); return kS_OK;
    default: return kDISP_E_TYPEMISMATCH;
  }
}

}  // namespace

HResult ChangeType(const Variant& value, std::uint16_t varType, Variant& converted) {
  try {
    return ChangeTypeOrThrow(value, varType, converted);
  } catch (const EVariantOverflow&) {
    return kDISP_E_OVERFLOW;
  } catch (const EVariantError&) {
    return kDISP_E_TYPEMISMATCH;
  }
}

HResult DispInvoke(void* instance, ITypeInfo* typeInfo, DispId id, std::uint16_t flags,
                   TDispParams& params, Variant* result, TExcepInfo* excepInfo,
                   std::uint32_t* argErr) {
  if (typeInfo == nullptr) return kE_POINTER;
  return typeInfo->Invoke(instance, id, flags, params, result, excepInfo, argErr);
}

TDispArgs::TDispArgs(std::vector<Variant> inCallOrder)
    : values_(inCallOrder.rbegin(), inCallOrder.rend()) {
  params_.Args = values_.data();
  params_.ArgCount = static_cast<std::uint32_t>(values_.size());
}

HResult ReportException(std::exception_ptr error, std::string source, TExcepInfo* excepInfo) {
  TFailure failure = DescribeFailure(std::move(error));
  if (excepInfo != nullptr) {
    *excepInfo = TExcepInfo{};
    excepInfo->Source = std::move(source);
    excepInfo->Description = std::move(failure.message);
    excepInfo->SCode = failure.code;
  }
  return kDISP_E_EXCEPTION;
}

}  // namespace qar::com
