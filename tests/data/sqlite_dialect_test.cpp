#include "data/sqlite_dialect.h"

#include <gtest/gtest.h>

namespace qar {
namespace {

const std::string kNow(kSqliteLocalNow);

TEST(SqliteDialectTest, GetDateBecomesTheLocalCurrentDateTime) {
  EXPECT_EQ(TranslateTSqlToSqlite("SET DTULTATU = GETDATE()", 1), "SET DTULTATU = " + kNow);
  EXPECT_EQ(TranslateTSqlToSqlite("getdate ( )", 1), kNow);
  EXPECT_EQ(kNow, "(strftime('%Y-%m-%d %H:%M:%f','now','localtime'))");
}

TEST(SqliteDialectTest, ConvertStyle103RendersDayMonthYear) {
  EXPECT_EQ(TranslateTSqlToSqlite("CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)", 1),
            "strftime('%d/%m/%Y',DTINCLUSAO) = strftime('%d/%m/%Y'," + kNow + ")");
  EXPECT_EQ(TranslateTSqlToSqlite("convert(varchar(10), T.DT, 103)", 1),
            "strftime('%d/%m/%Y', T.DT)");
  EXPECT_EQ(TranslateTSqlToSqlite("CONVERT(VARCHAR, ID)", 1), "CAST( ID AS TEXT)");
  EXPECT_EQ(TranslateTSqlToSqlite("CONVERT(INT, '7')", 1), "CAST( '7' AS INTEGER)");
}

TEST(SqliteDialectTest, TableDefinitionTypesBecomeSqliteTypes) {
  EXPECT_EQ(TranslateTSqlToSqlite("ID INT IDENTITY PRIMARY KEY,", 1),
            "ID INTEGER PRIMARY KEY AUTOINCREMENT,");
  EXPECT_EQ(TranslateTSqlToSqlite("ID int identity(1,1) primary key", 1),
            "ID INTEGER PRIMARY KEY AUTOINCREMENT");
  EXPECT_EQ(TranslateTSqlToSqlite("DS NVARCHAR(MAX), E VARCHAR( max ), B VARBINARY(MAX)", 1),
            "DS TEXT, E TEXT, B BLOB");
  EXPECT_EQ(TranslateTSqlToSqlite("CDAPP VARCHAR(16)", 1), "CDAPP VARCHAR(16)");
  EXPECT_EQ(TranslateTSqlToSqlite("DTINCLUSAO DATETIME DEFAULT GETDATE(),", 1),
            "DTINCLUSAO DATETIME DEFAULT " + kNow + ",");
}

TEST(SqliteDialectTest, SpidBecomesTheConnectionsNumber) {
  EXPECT_EQ(TranslateTSqlToSqlite("VALUES (@@SPID, @@spid, ?)", 57), "VALUES (57, 57, ?)");
}

TEST(SqliteDialectTest, LiteralsIdentifiersAndCommentsAreLeftAlone) {
  EXPECT_EQ(TranslateTSqlToSqlite("SELECT 'GETDATE()', \"GETDATE()\", [@@SPID] -- GETDATE()", 1),
            "SELECT 'GETDATE()', \"GETDATE()\", [@@SPID] -- GETDATE()");
  EXPECT_EQ(TranslateTSqlToSqlite("SELECT 'it''s GETDATE()' /* @@SPID */", 1),
            "SELECT 'it''s GETDATE()' /* @@SPID */");
  EXPECT_EQ(TranslateTSqlToSqlite("WHERE MYGETDATE() = XCONVERT(A,B)", 1),
            "WHERE MYGETDATE() = XCONVERT(A,B)");
}

TEST(SqliteDialectTest, UnicodeLiteralPrefixIsDropped) {
  EXPECT_EQ(TranslateTSqlToSqlite("WHERE DS = N'Operação' AND N = 1", 1),
            "WHERE DS = 'Operação' AND N = 1");
}

}  // namespace
}  // namespace qar
