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

TEST(ConnectionStringTest, SqliteProviderSelectsTheEmbeddedDriver) {
  const TDriverChoice choice = Choose("Provider=SQLite;Data Source=/var/lib/qar/qar.db");
  EXPECT_EQ(choice.kind, TDriverChoice::kEmbeddedSqlite);
  EXPECT_EQ(choice.target, "/var/lib/qar/qar.db");
  EXPECT_THROW(Choose("Provider=SQLite"), EDataError);
}

TEST(ConnectionStringTest, SqlServerProviderKeywordsAreTranslatedForOdbc) {
  const TDriverChoice choice = Choose(
      "Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=p;w;"
      "Initial Catalog=LOJA;Data Source=SRV\\SQL");
  EXPECT_EQ(choice.kind, TDriverChoice::kOdbc);
  EXPECT_EQ(choice.target, "Driver=FreeTDS;UID=sa;PWD=p;Database=LOJA;Server=SRV\\SQL");
  EXPECT_EQ(Choose("Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=S").target,
            "Driver=FreeTDS;Trusted_Connection=yes;Server=S");
}

TEST(ConnectionStringTest, DriverKeywordPicksTheOdbcDriver) {
  EXPECT_EQ(Choose("Provider=SQLOLEDB;Driver={ODBC Driver 18 for SQL Server};Data Source=S").target,
            "Driver={ODBC Driver 18 for SQL Server};Server=S");
  EXPECT_EQ(Choose("Driver=SQLite3;Database=/tmp/a.db").target, "Driver=SQLite3;Database=/tmp/a.db");
  EXPECT_EQ(Choose("Provider=MSDASQL;DSN=loja;UID=u").target, "DSN=loja;UID=u");
}

TEST(ConnectionStringTest, OracleProviderUsesDbq) {
  EXPECT_EQ(Choose("Provider=MSDAORA;Data Source=ORCL;User ID=u;Password=p").target,
            "Driver=Oracle;DBQ=ORCL;UID=u;PWD=p");
}

TEST(ConnectionStringTest, UnknownProviderIsAClearError) {
  try {
    Choose("Provider=Nope.1;Data Source=x");
    FAIL() << "no error";
  } catch (const EDataError& error) {
    EXPECT_EQ(error.SqlState(), "IM002");
  }
}

}  // namespace
}  // namespace qar
