#include "framework/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "platform/datetime.h"

namespace qar {
namespace {

// Counts the references a variant takes and gives back.
struct TCounted : IUnknown {
  int count = 0;
  HResult QueryInterface(const TGUID&, void** object) override { *object = nullptr; return -1; }
  std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++count); }
  std::uint32_t Release() override { return static_cast<std::uint32_t>(--count); }
};

TEST(VariantTest, ValuesConvertToTextNumbersAndDatesByTheProcessSettings) {
  const std::pair<Variant, const char*> texts[] = {{Variant(), ""}, {Variant::Null(), ""}, {Variant(-7LL), "-7"},
                                                   {Variant(0.1), "0.1"}, {Variant(true), "True"}};
  for (const auto& [value, text] : texts) EXPECT_EQ(value.AsString(), text) << text;
  EXPECT_EQ(Variant::Null().AsInteger(), 0);
  EXPECT_TRUE(Variant(" true ").AsBoolean() && !Variant("False").AsBoolean());
  EXPECT_EQ(Variant(" 17 ").AsInteger(), 17);
  EXPECT_EQ(Variant(17.0).AsInteger(), 17);
  for (const char* bad : {"", "17a", "99999999999"}) EXPECT_THROW(Variant(bad).AsInteger(), EVariantError);
  EXPECT_THROW(Variant("x").AsDouble(), EVariantError);

  const platform::TDateTime noon = platform::EncodeDateTime({2024, 3, 5, 14, 3, 27, 0});
  const platform::TDateTime midnight = platform::EncodeDateTime({2024, 3, 5, 0, 0, 0, 0});
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  EXPECT_EQ(Variant::FromDate(noon).AsString(), "05/03/2024 14:03:27");
  EXPECT_EQ(Variant::FromDate(midnight).AsString(), "05/03/2024");
  platform::SetShortDateFormat("yyyy-MM-dd", '-');
  EXPECT_EQ(Variant::FromDate(midnight).AsString(), "2024-03-05");
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
}

TEST(VariantTest, EachValueKeepsItsAutomationTypeCodeAndItsInterfaceCounted) {
  TCounted counted;
  Variant target = "x";
  {
    const struct {
      Variant value;
      std::uint16_t code;
      TVarType type;
    } cases[] = {
        {Variant(), 0, TVarType::Empty}, {Variant::Null(), 1, TVarType::Null},
        {Variant(std::int16_t{2}), 2, TVarType::Integer}, {Variant(2), 3, TVarType::Integer},
        {Variant(2.5f), 4, TVarType::Double}, {Variant(2.5), 5, TVarType::Double},
        {Variant::FromDate(1.5), 7, TVarType::Date}, {Variant("s"), 8, TVarType::String},
        {Variant::FromInterface(TComPtr<IUnknown>(&counted), kVarDispatch), 9, TVarType::Unknown},
        {Variant::Error(-2147352572), 10, TVarType::Unknown}, {Variant(true), 11, TVarType::Boolean},
        {Variant::FromInterface(TComPtr<IUnknown>(&counted)), 13, TVarType::Unknown},
        {Variant(std::uint8_t{2}), 17, TVarType::Integer}, {Variant(std::int64_t{2}), 20, TVarType::Integer},
        {Variant::Array({1, "a"}), 0x200C, TVarType::Unknown}, {Variant::ByRef(target), 0x400C, TVarType::String},
    };
    for (const auto& c : cases) {
      EXPECT_EQ(c.value.VarType(), c.code);
      EXPECT_EQ(c.value.Type(), c.type) << c.code;
    }
    Variant copy = cases[11].value;
    EXPECT_EQ(counted.count, 3);
    EXPECT_EQ(copy.Interface().Get(), &counted);
    copy = Variant();
    EXPECT_EQ(counted.count, 2);
  }
  EXPECT_EQ(counted.count, 0);
  EXPECT_THROW(Variant::Array({1}).AsString(), EVariantError);
  EXPECT_THROW(Variant::Error(1).AsInteger(), EVariantError);
  EXPECT_THROW(Variant::FromObject(std::make_shared<int>(1)).AsString(), EVariantError);
}

TEST(VariantTest, AReferenceReadsAndWritesItsTargetAndArraysCompareItemByItem) {
  Variant target = "17";
  const Variant ref = Variant::ByRef(target);
  EXPECT_EQ(ref.AsInteger(), 17);
  EXPECT_EQ(ref.Deref(), Variant("17"));
  *ref.Target() = 18;
  EXPECT_EQ(target, Variant(18));
  EXPECT_EQ(Variant(1).Target(), nullptr);
  EXPECT_EQ(Variant(1), Variant(1LL));
  EXPECT_FALSE(Variant(1) == Variant("1") || Variant() == Variant::Null());
  EXPECT_EQ(Variant::Array({1, "a"}, 1), Variant::Array({1, "a"}, 1));
  EXPECT_FALSE(Variant::Array({1, "a"}) == Variant::Array({1, "b"}));
  EXPECT_EQ(Variant::Array({}, 1).ArrayLowBound(), 1);
}

// Each conversion either gives the exact value or raises the overflow error; none is
// undefined behaviour (UBSan's float-cast-overflow watches the doubles).
TEST(VariantTest, UnsignedValuesKeepTheirSignAndConversionsHaveExactBounds) {
  constexpr std::uint64_t kMax = UINT64_MAX;
  const double nan = std::nan("");
  EXPECT_EQ(Variant(kMax).AsString(), "18446744073709551615");
  EXPECT_EQ(Variant(kMax).AsUInt64(), kMax);
  EXPECT_EQ(Variant(kMax).AsDouble(), 18446744073709551616.0);
  EXPECT_EQ(Variant(-9223372036854775808.0).AsInt64(), INT64_MIN);
  EXPECT_EQ(Variant(9223372036854775808.0).AsUInt64(), 9223372036854775808u);
  EXPECT_EQ(Variant("18446744073709551615").AsUInt64(), kMax);
  const std::pair<const char*, std::function<void()>> overflows[] = {
      {"2^64-1 to Int64", [&] { Variant(kMax).AsInt64(); }},
      {"2^64-1 to Integer", [&] { Variant(kMax).AsInteger(); }},
      {"2^63 to Int64", [] { Variant(9223372036854775808.0).AsInt64(); }},
      {"2^64 to UInt64", [] { Variant(18446744073709551616.0).AsUInt64(); }},
      {"-1 to UInt64", [] { Variant(-1).AsUInt64(); }},
      {"-1 as text to UInt64", [] { Variant("-1").AsUInt64(); }},
      {"infinity to Int64", [] { Variant(HUGE_VAL).AsInt64(); }},
      {"NaN date as text", [&] { Variant::FromDate(nan).AsString(); }},
      {"date after 9999", [] { Variant::FromDate(platform::kMaxDateTime).AsDateTime(); }},
      {"date before 0001", [] { Variant::FromDate(platform::kMinDateTime).AsInt64(); }},
      {"infinite double as date", [] { Variant(-HUGE_VAL).AsDateTime(); }},
  };
  for (const auto& [label, convert] : overflows) EXPECT_THROW(convert(), EVariantOverflow) << label;
  EXPECT_EQ(Variant::FromDate(platform::EncodeDateTime({9999, 12, 31, 23, 59, 59, 0})).AsString(),
            "31/12/9999 23:59:59");
  EXPECT_EQ(Variant::FromDate(platform::EncodeDateTime({1, 1, 1, 12, 0, 0, 0})).AsString(), "01/01/0001 12:00:00");
}

}  // namespace
}  // namespace qar
