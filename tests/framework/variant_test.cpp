#include "framework/variant.h"

#include <gtest/gtest.h>

#include "platform/datetime.h"

namespace qar {
namespace {

TEST(VariantTest, EmptyAndNullReadAsEmptyTextAndZero) {
  EXPECT_TRUE(Variant().IsEmpty());
  EXPECT_TRUE(Variant::Null().IsNull());
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_EQ(Variant::Null().AsString(), "");
  EXPECT_EQ(Variant::Null().AsInteger(), 0);
}

TEST(VariantTest, ScalarsConvertToTheirTextForm) {
  EXPECT_EQ(Variant(42).AsString(), "42");
  EXPECT_EQ(Variant(-7LL).AsString(), "-7");
  EXPECT_EQ(Variant(2.5).AsString(), "2.5");
  EXPECT_EQ(Variant(0.1).AsString(), "0.1");
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant("F").AsString(), "F");
}

TEST(VariantTest, IdTextConvertsToAnInteger) {
  EXPECT_EQ(Variant("17").AsInteger(), 17);
  EXPECT_EQ(Variant(" 17 ").AsInteger(), 17);
  EXPECT_EQ(Variant(17.0).AsInteger(), 17);
}

TEST(VariantTest, TextThatIsNoNumberFailsToConvertInsteadOfReadingZero) {
  EXPECT_THROW(Variant("").AsInteger(), EVariantError);
  EXPECT_THROW(Variant("17a").AsInteger(), EVariantError);
  EXPECT_THROW(Variant("99999999999").AsInteger(), EVariantError);
  EXPECT_THROW(Variant("x").AsDouble(), EVariantError);
}

TEST(VariantTest, DateFollowsTheProcessDateSettings) {
  const platform::TDateTime noon = platform::EncodeDateTime({2024, 3, 5, 14, 3, 27, 0});
  const platform::TDateTime midnight = platform::EncodeDateTime({2024, 3, 5, 0, 0, 0, 0});
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  EXPECT_EQ(Variant::FromDate(noon).AsString(), "05/03/2024 14:03:27");
  EXPECT_EQ(Variant::FromDate(midnight).AsString(), "05/03/2024");
  platform::SetShortDateFormat("yyyy-MM-dd", '-');
  EXPECT_EQ(Variant::FromDate(midnight).AsString(), "2024-03-05");
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
}

TEST(VariantTest, ObjectReferenceHasNoTextFormAndFailsCleanly) {
  const Variant object = Variant::FromObject(std::make_shared<int>(1));
  EXPECT_EQ(object.Type(), TVarType::Unknown);
  EXPECT_THROW(object.AsString(), EVariantError);
  EXPECT_THROW(object.AsInteger(), EVariantError);
  EXPECT_NE(object.Object(), nullptr);
}

TEST(VariantTest, EqualityComparesTypeAndValue) {
  EXPECT_EQ(Variant(1), Variant(1LL));
  EXPECT_FALSE(Variant(1) == Variant("1"));
  EXPECT_FALSE(Variant() == Variant::Null());
}

}  // namespace
}  // namespace qar
