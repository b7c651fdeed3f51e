// One argument as a client may send it (any type code, references to references,
// nested arrays, NaN and infinities, dates out of range, integers out of range) to a
// method of each parameter type. Properties: a value that reaches a method equals the
// value sent; one that cannot be converted gives a type mismatch or an overflow and
// the method is not called; a date that is no date is an overflow, and one that is
// decodes as it encodes; nothing the method received refers to the caller's variables.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "com/type_info.h"
#include "platform/datetime.h"
#include "fuzz_check.h"

namespace {

using qar::Variant;
namespace com = qar::com;

struct TTarget {
  bool called = false;
  Variant received;
  template <class T>
  void Take(T value) {
    called = true;
    received = Variant(value);
  }
  void TakeRef(Variant& value) {
    called = true;
    received = value;
    value = "out";
  }
};

enum TParam : com::DispId { kBool = 1, kInt32, kInt64, kUInt64, kDouble, kString, kVariant, kVariantRef };

const qar::TComPtr<com::ITypeInfo>& TypeInfo() {
  static const qar::TComPtr<com::ITypeInfo> info = com::TTypeInfoBuilder<TTarget>("ITarget", qar::TGUID{})
                                                       .Method(kBool, "Bool", &TTarget::Take<bool>)
                                                       .Method(kInt32, "Int32", &TTarget::Take<std::int32_t>)
                                                       .Method(kInt64, "Int64", &TTarget::Take<std::int64_t>)
                                                       .Method(kUInt64, "UInt64", &TTarget::Take<std::uint64_t>)
                                                       .Method(kDouble, "Double", &TTarget::Take<double>)
                                                       .Method(kString, "String", &TTarget::Take<std::string>)
                                                       .Method(kVariant, "Variant", &TTarget::Take<Variant>)
                                                       .Method(kVariantRef, "VariantRef", &TTarget::TakeRef)
                                                       .Build();
  return info;
}

double SpecialDouble(FuzzedDataProvider& in) {
  static const double kSpecial[] = {NAN, INFINITY, -INFINITY, 9223372036854775808.0, -9223372036854775808.0,
                                    18446744073709551616.0, 2147483647.5, -2147483648.5, 2958466.0, -693594.0,
                                    2958465.9999999, 2958465.999999999, -693593.999999999, -1.9999999999,
                                    -0.9999999999, 0.5, -0.5, 1e300};
  if (in.ConsumeBool()) return kSpecial[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
  return in.ConsumeFloatingPoint<double>();
}

// A value of any kind; references point into `targets`, which the caller frees after the call.
Variant MakeValue(FuzzedDataProvider& in, int depth, std::vector<std::unique_ptr<Variant>>& targets) {
  switch (in.ConsumeIntegralInRange(0, 17)) {
    case 0: return Variant();
    case 1: return Variant::Null();
    case 2: return Variant(in.ConsumeIntegral<std::int16_t>());
    case 3: return Variant(in.ConsumeIntegral<std::int32_t>());
    case 4: return Variant(static_cast<float>(in.ConsumeFloatingPointInRange<float>(-1e30f, 1e30f)));
    case 5: return Variant(SpecialDouble(in));
    case 6: return Variant::FromDate(SpecialDouble(in));
    case 7: return Variant(in.ConsumeRandomLengthString(24));
    case 8: return Variant::Error(in.ConsumeBool() ? com::kDISP_E_PARAMNOTFOUND : in.ConsumeIntegral<std::int32_t>());
    case 9: return Variant(in.ConsumeBool());
    case 10: return Variant(in.ConsumeIntegral<std::int8_t>());
    case 11: return Variant(in.ConsumeIntegral<std::uint8_t>());
    case 12: return Variant(in.ConsumeIntegral<std::uint16_t>());
    case 13: return Variant(in.ConsumeIntegral<std::uint32_t>());
    case 14: return Variant(in.ConsumeIntegral<std::int64_t>());
    case 15: return Variant(in.ConsumeIntegral<std::uint64_t>());
    case 16: {
      if (depth >= 4) return Variant(1);
      std::vector<Variant> items(in.ConsumeIntegralInRange(0, 3));
      for (Variant& item : items) item = MakeValue(in, depth + 1, targets);
      return Variant::Array(std::move(items), in.ConsumeIntegralInRange(-2, 2));
    }
    default: {
      if (depth >= 4) return Variant(2);
      targets.push_back(std::make_unique<Variant>(MakeValue(in, depth + 1, targets)));
      return Variant::ByRef(*targets.back());
    }
  }
}

// The value sent, every reference followed (written apart from the model's own).
Variant Plain(const Variant& value) {
  const Variant* at = &value;
  while (at->Target() != nullptr) at = at->Target();
  if ((at->VarType() & qar::kVarArray) == 0) return *at;
  std::vector<Variant> items;
  for (const Variant& item : at->ArrayItems()) items.push_back(Plain(item));
  return Variant::Array(std::move(items), at->ArrayLowBound());
}

bool HoldsReference(const Variant& value) {
  if (value.IsByRef()) return true;
  for (const Variant& item : value.ArrayItems())
    if (HoldsReference(item)) return true;
  return false;
}

bool HasBadDate(const Variant& plain) {
  if (plain.VarType() == qar::kVarDate) return !qar::platform::IsValidDateTime(plain.AsDouble());
  for (const Variant& item : plain.ArrayItems())
    if (HasBadDate(item)) return true;
  return false;
}

// The instant a date stands for, in days: before the epoch the fraction still counts forward.
double Instant(double date) {
  const double day = std::trunc(date);
  return day + std::fabs(date - day);
}

// A date decodes as it encodes: its parts encode to the same instant to the millisecond (the
// next day's midnight when the time rounds to 24:00) and decode to the same parts again.
void CheckDatesRoundTrip(const Variant& plain) {
  for (const Variant& item : plain.ArrayItems()) CheckDatesRoundTrip(item);
  if (plain.VarType() != qar::kVarDate || !qar::platform::IsValidDateTime(plain.AsDouble())) return;
  namespace platform = qar::platform;
  const platform::DateTimeParts parts = platform::DecodeDateTime(plain.AsDouble());
  const double again = platform::EncodeDateTime(parts);
  QAR_FUZZ_CHECK(platform::IsValidDateTime(again));
  QAR_FUZZ_CHECK(std::fabs(Instant(again) - Instant(plain.AsDouble())) * 86400000.0 <= 0.5001);
  const platform::DateTimeParts same = platform::DecodeDateTime(again);
  QAR_FUZZ_CHECK(std::tie(parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.second, parts.millisecond) ==
                 std::tie(same.year, same.month, same.day, same.hour, same.minute, same.second, same.millisecond));
}

bool IsIntegerCode(std::uint16_t code) {
  return code == qar::kVarSmallInt || code == qar::kVarInteger || (code >= qar::kVarShortInt && code <= qar::kVarUInt64);
}

// Equal, NaN included (a double compares by its bits' meaning, not by ==).
bool Same(const Variant& a, const Variant& b) {
  if (a.VarType() == qar::kVarDouble && b.VarType() == qar::kVarDouble && std::isnan(a.AsDouble()))
    return std::isnan(b.AsDouble());
  if ((a.VarType() & qar::kVarArray) == 0 || a.VarType() != b.VarType()) return a == b;
  const auto& x = a.ArrayItems();
  const auto& y = b.ArrayItems();
  if (x.size() != y.size() || a.ArrayLowBound() != b.ArrayLowBound()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (!Same(x[i], y[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const auto method = static_cast<com::DispId>(in.ConsumeIntegralInRange<int>(kBool, kVariantRef));
  std::vector<std::unique_ptr<Variant>> targets;
  com::TDispArgs args{MakeValue(in, 0, targets)};
  const Variant sent = Plain(args[0]);
  TTarget target;
  Variant result;
  com::TExcepInfo excepInfo;
  std::uint32_t argErr = 99;
  const qar::HResult hr =
      TypeInfo()->Invoke(&target, method, com::kDispatchMethod, args.Params(), &result, &excepInfo, &argErr);

  if (HasBadDate(sent)) QAR_FUZZ_CHECK(hr == com::kDISP_E_OVERFLOW);
  CheckDatesRoundTrip(sent);
  if (hr != com::kS_OK) {
    QAR_FUZZ_CHECK(hr == com::kDISP_E_TYPEMISMATCH || hr == com::kDISP_E_OVERFLOW ||
                   (hr == com::kDISP_E_PARAMNOTOPTIONAL && sent.VarType() == qar::kVarError));
    QAR_FUZZ_CHECK(!target.called && argErr == 0);
    return 0;
  }
  QAR_FUZZ_CHECK(target.called && !HoldsReference(target.received));
  const std::uint16_t from = sent.VarType();
  const Variant& got = target.received;
  switch (method) {
    case kVariant:
    case kVariantRef: QAR_FUZZ_CHECK(Same(got, sent)); break;
    case kInt32:
    case kInt64:
    case kUInt64:
      // An integer arrives exactly; a fraction rounds half to even.
      if (IsIntegerCode(from)) QAR_FUZZ_CHECK(got.AsString() == sent.AsString());
      if (from == qar::kVarDouble) QAR_FUZZ_CHECK(got.AsDouble() == std::nearbyint(sent.AsDouble()));
      break;
    case kDouble:
      if (from == qar::kVarDouble) QAR_FUZZ_CHECK(Same(got, sent));
      break;
    case kString:
      if (from == qar::kVarOleStr) QAR_FUZZ_CHECK(got == sent);
      break;
    default: break;
  }
  if (method == kVariantRef && args[0].IsByRef()) QAR_FUZZ_CHECK(args[0].Deref() == Variant("out"));
  targets.clear();  // the caller's variables go; reading what the method kept touches none of them
  QAR_FUZZ_CHECK(Same(Plain(target.received), got));
  return 0;
}
