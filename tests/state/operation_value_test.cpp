#include "state/operation_value.h"

#include <gtest/gtest.h>

#include <tuple>

namespace qar::state {
namespace {

// Plain text positions, not JSON: the name's first occurrence, three characters
// skipped, the value up to the next double quote.
TEST(ExtractOperationValue, CutsByTextPositions) {
  for (const auto& [text, name, expected] :
       {std::tuple{R"({"CDFILIAL":"001","CDCAIXA":"02"})", "CDCAIXA", "02"}, {R"({"CDCAIXA":"02"})", "CDFILIAL", "kept"},
        {R"({"cdfilial":"001"})", "CDFILIAL", "kept"}, {"anything", "", "kept"}, {R"({"CDFILIAL": "001"})", "CDFILIAL", ""},
        {R"({"XCDFILIAL":"9","CDFILIAL":"1"})", "CDFILIAL", "9"}, {R"({"CDFILIAL":"001)", "CDFILIAL", ""},
        {R"("CDFILIAL")", "CDFILIAL", ""}}) {
    std::string value = "kept";
    ExtractOperationValue(text, name, value);
    EXPECT_EQ(value, expected) << text << " / " << name;
  }
}

}  // namespace
}  // namespace qar::state
