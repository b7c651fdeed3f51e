#include "agent/OperationValue.h"

#include <gtest/gtest.h>

namespace qar::agent {
namespace {

std::string Extract(const std::string& text, const std::string& name, std::string value = "<unset>") {
  ExtractOperationValue(text, name, value);
  return value;
}

TEST(ExtractOperationValue, QuotedValuesOfARequest) {
  const std::string op = R"({"CDFILIAL":"001","CDCAIXA":"02"})";
  EXPECT_EQ(Extract(op, "CDFILIAL"), "001");
  EXPECT_EQ(Extract(op, "CDCAIXA"), "02");
}

TEST(ExtractOperationValue, MissingNameLeavesTheValueAsItWas) {
  EXPECT_EQ(Extract(R"({"CDCAIXA":"02"})", "CDFILIAL", ""), "");
  EXPECT_EQ(Extract(R"({"CDCAIXA":"02"})", "CDFILIAL", "kept"), "kept");
  EXPECT_EQ(Extract(R"({"cdfilial":"001"})", "CDFILIAL", "kept"), "kept");  // case-sensitive
  EXPECT_EQ(Extract("anything", "", "kept"), "kept");
}

TEST(ExtractOperationValue, PlainPositionsNotJson) {
  EXPECT_EQ(Extract(R"({"CDFILIAL": "001"})", "CDFILIAL"), "");  // blank after the colon
  EXPECT_EQ(Extract(R"({"CDFILIAL":12,"CDCAIXA":"3"})", "CDFILIAL"), "2,");  // unquoted
  EXPECT_EQ(Extract(R"({"XCDFILIAL":"9","CDFILIAL":"1"})", "CDFILIAL"), "9");  // first occurrence
  EXPECT_EQ(Extract(R"({"CDFILIAL":"001)", "CDFILIAL"), "");  // no closing quote
  EXPECT_EQ(Extract(R"("CDFILIAL")", "CDFILIAL"), "");  // text ends inside the separator
}

}  // namespace
}  // namespace qar::agent
