#include "data/connection_string.h"

#include <gtest/gtest.h>

#include "data/data_error.h"

namespace qar {
namespace {

TDriverChoice Choose(const std::string& text) { return ChooseDriver(text, "FreeTDS", "Oracle"); }

TEST(ConnectionStringTest, PairsAreSplitTrimmedAndUnquoted) {
  const auto pairs = ParseConnectionString(" Provider = SQLOLEDB.1 ;Password=\"a;b\";Data Source='x''y';;X");
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"Provider", "SQLOLEDB.1"}));
  EXPECT_EQ(pairs[1].second, "a;b");
  EXPECT_EQ(pairs[2].second, "x'y");
  EXPECT_EQ(ConnectionStringValue("driver={SQLite3};database=a.db", "DATABASE"), "a.db");
}

TEST(ConnectionStringTest, ProviderPicksTheDriverAndItsKeywords) {
  const std::pair<const char*, const char*> odbc[] = {
      {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=p;w;Initial Catalog=LOJA;"
       "Data Source=SRV\\SQL",
       "Driver=FreeTDS;UID=sa;PWD=p;Database=LOJA;Server=SRV\\SQL"},
      {"Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=S", "Driver=FreeTDS;Trusted_Connection=yes;Server=S"},
      {"Provider=SQLOLEDB;Driver={ODBC Driver 18 for SQL Server};Data Source=S",
       "Driver={ODBC Driver 18 for SQL Server};Server=S"},
      {"Driver=SQLite3;Database=/tmp/a.db", "Driver=SQLite3;Database=/tmp/a.db"},
      {"Provider=MSDASQL;DSN=loja;UID=u", "DSN=loja;UID=u"},
      {"Provider=MSDAORA;Data Source=ORCL;User ID=u;Password=p", "Driver=Oracle;DBQ=ORCL;UID=u;PWD=p"},
  };
  for (const auto& [text, target] : odbc) {
    EXPECT_EQ(Choose(text).kind, TDriverChoice::kOdbc) << text;
    EXPECT_EQ(Choose(text).target, target);
  }
  const TDriverChoice embedded = Choose("Provider=SQLite;Data Source=/var/lib/qar/qar.db");
  EXPECT_EQ(embedded.kind, TDriverChoice::kEmbeddedSqlite);
  EXPECT_EQ(embedded.target, "/var/lib/qar/qar.db");
  EXPECT_THROW(Choose("Provider=SQLite"), EDataError);
  try {
    Choose("Provider=Nope.1;Data Source=x");
    FAIL() << "no error";
  } catch (const EDataError& error) {
    EXPECT_EQ(error.SqlState(), "IM002");
  }
}

}  // namespace
}  // namespace qar
