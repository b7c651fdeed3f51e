#include "data/named_params.h"

#include <gtest/gtest.h>

namespace qar {

TEST(NamedParamsTest, MarkersBecomeQuestionMarksAndTheirNamesAreCollectedInOrder) {
  struct Case {
    const char* text;
    const char* sent;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"select * from T where A = :A and B = :B", "select * from T where A = ? and B = ?", {"A", "B"}},
      {"values (:A,:B)", "values (?,?)", {"A", "B"}},
      {" WHERE ID = :ID\r\n   AND X", " WHERE ID = ?\r\n   AND X", {"ID"}},
      // As the monitor rewrites them: a name runs to a delimiter; a quoted name loses its quotes.
      {"where A = :A=1 and B = :B", "where A = ? and B = ?", {"A=1", "B"}},
      {"where A = : and B = :B", "where A = ? and B = ?", {"", "B"}},
      {"where A = :\"MY NAME\" and B = :B", "where A = ? and B = ?", {"MY NAME", "B"}},
      // Colons inside literals and doubled colons are no markers.
      {"where X = 'a:b' and A = :A", "where X = 'a:b' and A = ?", {"A"}},
      {"select A::int, :B", "select A:int, ?", {"B"}},
      {"where X = 'it\"s' and A = :A", "where X = 'it\"s' and A = :A", {}},
      {"DELETE FROM SQLWEBTUNNING\r\nWHERE NRSID = @@SPID", "DELETE FROM SQLWEBTUNNING\r\nWHERE NRSID = @@SPID", {}},
  };
  for (const Case& c : cases) {
    const TNamedParamText parsed = ParseNamedParams(c.text);
    EXPECT_EQ(parsed.text, c.sent) << c.text;
    EXPECT_EQ(parsed.names, c.names) << c.text;
  }
}

}  // namespace qar
