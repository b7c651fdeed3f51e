#include "data/named_params.h"

#include <gtest/gtest.h>

namespace qar {
namespace {

TEST(NamedParamsTest, MarkersBecomeQuestionMarksAndNamesAreCollectedInOrder) {
  const TNamedParamText parsed = ParseNamedParams("select * from T where A = :A and B = :B");
  EXPECT_EQ(parsed.text, "select * from T where A = ? and B = ?");
  EXPECT_EQ(parsed.names, (std::vector<std::string>{"A", "B"}));
}

TEST(NamedParamsTest, DelimitersEndTheNameAndStayInTheText) {
  EXPECT_EQ(ParseNamedParams("values (:A,:B)").text, "values (?,?)");
  EXPECT_EQ(ParseNamedParams("where A = :A").text, "where A = ?");
  EXPECT_EQ(ParseNamedParams(" WHERE IDCTRLEXECREM = :IDCTRLEXECREM\r\n   AND X").names,
            std::vector<std::string>{"IDCTRLEXECREM"});
}

TEST(NamedParamsTest, AgreesWithTheMonitorsRewritingRules) {
  EXPECT_EQ(ParseNamedParams("where A = :A=1 and B = :B").text, "where A = ? and B = ?");
  EXPECT_EQ(ParseNamedParams("where A = : and B = :B").text, "where A = ? and B = ?");
  const TNamedParamText quoted = ParseNamedParams("where A = :\"MY NAME\" and B = :B");
  EXPECT_EQ(quoted.text, "where A = ? and B = ?");
  EXPECT_EQ(quoted.names, (std::vector<std::string>{"MY NAME", "B"}));
}

TEST(NamedParamsTest, ColonsInLiteralsAndDoubledColonsAreNotMarkers) {
  const TNamedParamText literal = ParseNamedParams("where X = 'a:b' and A = :A");
  EXPECT_EQ(literal.text, "where X = 'a:b' and A = ?");
  EXPECT_EQ(literal.names, std::vector<std::string>{"A"});
  EXPECT_EQ(ParseNamedParams("select A::int, :B").text, "select A:int, ?");
  EXPECT_EQ(ParseNamedParams("where X = 'it\"s' and A = :A").text, "where X = 'it\"s' and A = :A");
}

TEST(NamedParamsTest, TextWithoutMarkersComesBackUnchanged) {
  const TNamedParamText parsed = ParseNamedParams("DELETE FROM SQLWEBTUNNING\r\nWHERE NRSID = @@SPID");
  EXPECT_EQ(parsed.text, "DELETE FROM SQLWEBTUNNING\r\nWHERE NRSID = @@SPID");
  EXPECT_TRUE(parsed.names.empty());
}

}  // namespace
}  // namespace qar
