#include "data/sqlite_dialect.h"

#include <gtest/gtest.h>

namespace qar {

TEST(SqliteDialectTest, TSqlBecomesSqliteOutsideLiteralsIdentifiersAndComments) {
  const std::string now(kSqliteLocalNow);
  const std::pair<std::string, std::string> cases[] = {
      {"SET DTULTATU = GETDATE()", "SET DTULTATU = " + now},
      {"getdate ( )", now},
      {"CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
       "strftime('%d/%m/%Y',DTINCLUSAO) = strftime('%d/%m/%Y'," + now + ")"},
      {"convert(varchar(10), T.DT, 103)", "strftime('%d/%m/%Y', T.DT)"},
      {"CONVERT(VARCHAR, ID)", "CAST( ID AS TEXT)"},
      {"CONVERT(INT, '7')", "CAST( '7' AS INTEGER)"},
      {"ID INT IDENTITY PRIMARY KEY,", "ID INTEGER PRIMARY KEY AUTOINCREMENT,"},
      {"ID int identity(1,1) primary key", "ID INTEGER PRIMARY KEY AUTOINCREMENT"},
      {"DS NVARCHAR(MAX), E VARCHAR( max ), B VARBINARY(MAX)", "DS TEXT, E TEXT, B BLOB"},
      {"CDAPP VARCHAR(16)", "CDAPP VARCHAR(16)"},
      {"DTINCLUSAO DATETIME DEFAULT GETDATE(),", "DTINCLUSAO DATETIME DEFAULT " + now + ","},
      {"VALUES (@@SPID, @@spid, ?)", "VALUES (57, 57, ?)"},
      {"WHERE DS = N'Operação' AND N = 1", "WHERE DS = 'Operação' AND N = 1"},
      {"SELECT 'GETDATE()', \"GETDATE()\", [@@SPID] -- GETDATE()",
       "SELECT 'GETDATE()', \"GETDATE()\", [@@SPID] -- GETDATE()"},
      {"SELECT 'it''s GETDATE()' /* @@SPID */", "SELECT 'it''s GETDATE()' /* @@SPID */"},
      {"WHERE MYGETDATE() = XCONVERT(A,B)", "WHERE MYGETDATE() = XCONVERT(A,B)"},
  };
  for (const auto& [text, sqlite] : cases) EXPECT_EQ(TranslateTSqlToSqlite(text, 57), sqlite) << text;
}

}  // namespace qar
