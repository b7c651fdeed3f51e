// Stored connection strings: their pairs, and the driver and keywords their provider picks.
#include "data/connection_string.h"

#include <gtest/gtest.h>

#include "data/data_error.h"

namespace qar {

TEST(ConnectionStringTest, PairsAreSplitTrimmedAndUnquoted) {
  const auto pairs = ParseConnectionString(" Provider = SQLOLEDB.1 ;Password=\"a;b\";Data Source='x''y';;X");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"Provider", "SQLOLEDB.1"}));
  EXPECT_EQ(pairs[1].second, "a;b");
  EXPECT_EQ(pairs[2].second, "x'y");
  EXPECT_EQ(ConnectionStringValue("driver={SQLite3};database=a.db", "DATABASE"), "a.db");
}

TEST(ConnectionStringTest, ProviderPicksTheDriverAndItsKeywords) {
  const std::pair<const char*, const char*> cases[] = {
      {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=p;w;Initial Catalog=LOJA;Data Source=SRV\\SQL",
       "odbc Driver=FreeTDS;UID=sa;PWD=p;Database=LOJA;Server=SRV\\SQL"},
      {"Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=S", "odbc Driver=FreeTDS;Trusted_Connection=yes;Server=S"},
      {"Provider=SQLOLEDB;Driver={ODBC Driver 18 for SQL Server};Data Source=S",
       "odbc Driver={ODBC Driver 18 for SQL Server};Server=S"},
      {"Driver=SQLite3;Database=/tmp/a.db", "odbc Driver=SQLite3;Database=/tmp/a.db"},
      {"Provider=MSDASQL;DSN=loja;UID=u", "odbc DSN=loja;UID=u"},
      {"Provider=MSDAORA;Data Source=ORCL;User ID=u;Password=p", "odbc Driver=Oracle;DBQ=ORCL;UID=u;PWD=p"},
      {"Provider=SQLite;Data Source=/var/lib/qar/qar.db", "embedded /var/lib/qar/qar.db"},
      {"Provider=SQLite", "error"},
      {"Provider=Nope.1;Data Source=x", "error IM002"},
  };
  for (const auto& [text, expected] : cases) {
    std::string chosen;
    try {
      const TDriverChoice choice = ChooseDriver(text, "FreeTDS", "Oracle");
      chosen = (choice.kind == TDriverChoice::kOdbc ? "odbc " : "embedded ") + choice.target;
    } catch (const EDataError& error) {
      chosen = error.SqlState() == "IM002" ? "error IM002" : "error";
    }
    EXPECT_EQ(chosen, expected) << text;
  }
}

}  // namespace qar
