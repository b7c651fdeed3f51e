// DispInvoke, the argument conversions it applies, and dispatch arguments in call order.
#include <cmath>
#include <limits>

#include "com/dispatch.h"

namespace qar::com {

namespace {

// The integer range a type code holds; false for codes that are no integer.
bool IntegerRange(std::uint16_t varType, double& low, double& high) {
  switch (varType) {
    case kVarShortInt: low = -128; high = 127; return true;
    case kVarByte: low = 0; high = 255; return true;
    case kVarSmallInt: low = -32768; high = 32767; return true;
    case kVarWord: low = 0; high = 65535; return true;
    case kVarInteger: low = -2147483648.0; high = 2147483647.0; return true;
    case kVarLongWord: low = 0; high = 4294967295.0; return true;
    case kVarInt64: low = -9223372036854775808.0; high = 9223372036854775807.0; return true;
    case kVarUInt64: low = 0; high = 9223372036854775807.0; return true;
    default: return false;
  }
}

Variant IntegerOfType(std::int64_t value, std::uint16_t varType) {
  switch (varType) {
    case kVarShortInt: return Variant(static_cast<std::int8_t>(value));
    case kVarByte: return Variant(static_cast<std::uint8_t>(value));
    case kVarSmallInt: return Variant(static_cast<std::int16_t>(value));
    case kVarWord: return Variant(static_cast<std::uint16_t>(value));
    case kVarInteger: return Variant(static_cast<std::int32_t>(value));
    case kVarLongWord: return Variant(static_cast<std::uint32_t>(value));
    case kVarUInt64: return Variant(static_cast<std::uint64_t>(value));
    default: return Variant(value);
  }
}

}  // namespace

HResult ChangeType(const Variant& value, std::uint16_t varType, Variant& converted) {
  if (varType == kVarVariant) {
    converted = value;
    return kS_OK;
  }
  const Variant& from = value.Deref();
  if (from.VarType() == varType) {
    converted = from;
    return kS_OK;
  }
  if (from.Type() == TVarType::Null || from.Type() == TVarType::Unknown) return kDISP_E_TYPEMISMATCH;
  try {
    double low = 0;
    double high = 0;
    if (IntegerRange(varType, low, high)) {
      // Texts and fractions round to the nearest integer, halves to even.
      const double number = std::nearbyint(from.AsDouble());
      if (!(number >= low && number <= high)) return kDISP_E_OVERFLOW;
      converted = IntegerOfType(from.Type() == TVarType::Integer ? from.AsInt64()
                                                                 : static_cast<std::int64_t>(number),
                                varType);
      return kS_OK;
    }
    switch (varType) {
      case kVarOleStr: converted = from.AsString(); return kS_OK;
      case kVarBoolean: converted = from.AsBoolean(); return kS_OK;
      case kVarDouble: converted = from.AsDouble(); return kS_OK;
      case kVarSingle: converted = static_cast<float>(from.AsDouble()); return kS_OK;
      case kVarDate: converted = Variant::FromDate(from.AsDateTime()); return kS_OK;
      default: return kDISP_E_TYPEMISMATCH;
    }
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
  const TFailure failure = DescribeFailure(std::move(error));
  if (excepInfo != nullptr) {
    *excepInfo = TExcepInfo{};
    excepInfo->Source = std::move(source);
    excepInfo->Description = failure.message;
    excepInfo->SCode = failure.code;
  }
  return kDISP_E_EXCEPTION;
}

}  // namespace qar::com
