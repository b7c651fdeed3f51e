#include "agent/OperationValue.h"

#include <gtest/gtest.h>

namespace qar::agent {
namespace {

// Plain text positions, not JSON: the name's first occurrence, three characters
// skipped, the value up to the next double quote.
TEST(ExtractOperationValue, CutsByTextPositions) {
  const struct {
    const char *text, *name, *value;
  } cases[] = {
      {R"({"CDFILIAL":"001","CDCAIXA":"02"})", "CDFILIAL", "001"},
      {R"({"CDFILIAL":"001","CDCAIXA":"02"})", "CDCAIXA", "02"},
      {R"({"CDCAIXA":"02"})", "CDFILIAL", "kept"},             // missing: unchanged
      {R"({"cdfilial":"001"})", "CDFILIAL", "kept"},           // case-sensitive
      {"anything", "", "kept"},                                // an empty name occurs nowhere
      {R"({"CDFILIAL": "001"})", "CDFILIAL", ""},              // blank after the colon
      {R"({"CDFILIAL":12,"CDCAIXA":"3"})", "CDFILIAL", "2,"},  // unquoted
      {R"({"XCDFILIAL":"9","CDFILIAL":"1"})", "CDFILIAL", "9"},  // first occurrence
      {R"({"CDFILIAL":"001)", "CDFILIAL", ""},                 // no closing quote
      {R"("CDFILIAL")", "CDFILIAL", ""},                       // ends inside the separator
  };
  for (const auto& c : cases) {
    std::string value = "kept";
    ExtractOperationValue(c.text, c.name, value);
    EXPECT_EQ(value, c.value) << c.text << " / " << c.name;
  }
}

}  // namespace
}  // namespace qar::agent
