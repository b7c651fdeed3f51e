// What the data layer composes: connection strings and the driver they pick, named
// markers, the SQLite dialect of a statement, data packets.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "data/connection_string.h"
#include "data/data_error.h"
#include "data/data_packet.h"
#include "data/named_params.h"
#include "data/sqlite_dialect.h"
#include "platform/datetime.h"
#include "variant_text.h"

namespace qar {

TEST(ConnectionStringTest, PairsAreSplitTrimmedAndUnquotedAndTheProviderPicksTheDriver) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(ParseConnectionString(" Provider = SQLOLEDB.1 ;Password=\"a;b\";Data Source='x''y';;X"),
            (Pairs{{"Provider", "SQLOLEDB.1"}, {"Password", "a;b"}, {"Data Source", "x'y"}}));
  EXPECT_EQ(ConnectionStringValue("driver={SQLite3};database=a.db", "DATABASE"), "a.db");
  const std::pair<const char*, const char*> cases[] = {
      {"Provider=SQLOLEDB.1;Persist Security Info=True;User ID=sa;Password=p;w;Initial Catalog=LOJA;Data Source=SRV\\SQL",
       "odbc Driver=FreeTDS;UID=sa;PWD=p;Database=LOJA;Server=SRV\\SQL"},
      {"Provider=SQLOLEDB;Integrated Security=SSPI;Data Source=S", "odbc Driver=FreeTDS;Trusted_Connection=yes;Server=S"},
      {"Provider=SQLOLEDB;Driver={ODBC Driver 18 for SQL Server};Data Source=S",
       "odbc Driver={ODBC Driver 18 for SQL Server};Server=S"},
      {"Driver=SQLite3;Database=/tmp/a.db", "odbc Driver=SQLite3;Database=/tmp/a.db"},
      {"Provider=MSDASQL;DSN=loja;UID=u", "odbc DSN=loja;UID=u"}, {"Provider=SQLite", "error"},
      {"Provider=MSDAORA;Data Source=ORCL;User ID=u;Password=p", "odbc Driver=Oracle;DBQ=ORCL;UID=u;PWD=p"},
      {"Provider=SQLite;Data Source=/var/lib/qar/qar.db", "embedded /var/lib/qar/qar.db 5000 ms"},
      {"Provider=SQLite;Data Source=a.db;Busy Timeout= 250", "embedded a.db 250 ms"},
      {"Provider=SQLite;Data Source=a.db;Busy Timeout=2s", "error"}, {"Provider=SQLite;Data Source=a.db;Busy Timeout=-1", "error"},
      {"Provider=SQLite;Data Source=a.db;Busy Timeout=600001", "error"},
      {"Provider=Nope.1;Data Source=x", "error IM002"},
  };
  for (const auto& [text, expected] : cases) {
    std::string chosen;
    try {
      const TDriverChoice choice = ChooseDriver(text, "FreeTDS", "Oracle");
      chosen = choice.kind == TDriverChoice::kOdbc
                   ? "odbc " + choice.target
                   : "embedded " + choice.target + " " + std::to_string(choice.busyTimeoutMs) + " ms";
    } catch (const EDataError& error) {
      chosen = error.SqlState() == "IM002" ? "error IM002" : "error";
    }
    EXPECT_EQ(chosen, expected) << text;
  }
}

// The text sent is checked against the monitor's rewriting in the diagnostics tests.
TEST(NamedParamsTest, NamesAreCollectedInOrderToADelimiterAndLoseTheirQuotes) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"select * from T where A = :A and B = :B", {"A", "B"}}, {"values (:A,:B)", {"A", "B"}},
      {" WHERE ID = :ID\r\n   AND X", {"ID"}}, {"where A = :A=1 and B = :B", {"A=1", "B"}},
      {"where A = : and B = :B", {"", "B"}}, {"where A = :\"MY NAME\" and B = :B", {"MY NAME", "B"}},
      {"where X = 'a:b' and A = :A", {"A"}}, {"select A::int, :B", {"B"}}, {"where X = 'it\"s' and A = :A", {}},
  };
  for (const auto& [text, names] : cases) EXPECT_EQ(ParseNamedParams(text).names, names) << text;
}

TEST(SqliteDialectTest, TSqlBecomesSqliteOutsideLiteralsIdentifiersAndComments) {
  const std::string now(kSqliteLocalNow);
  const std::pair<std::string, std::string> cases[] = {
      {"SET DTULTATU = GETDATE()", "SET DTULTATU = " + now}, {"getdate ( )", now},
      {"CONVERT(VARCHAR,DTINCLUSAO,103) = CONVERT(VARCHAR,GETDATE(),103)",
       "strftime('%d/%m/%Y',DTINCLUSAO) = strftime('%d/%m/%Y'," + now + ")"},
      {"convert(varchar(10), T.DT, 103)", "strftime('%d/%m/%Y', T.DT)"},
      {"CONVERT(VARCHAR, ID)", "CAST( ID AS TEXT)"}, {"CONVERT(INT, '7')", "CAST( '7' AS INTEGER)"},
      {"ID INT IDENTITY PRIMARY KEY,", "ID INTEGER PRIMARY KEY AUTOINCREMENT,"},
      {"ID int identity(1,1) primary key", "ID INTEGER PRIMARY KEY AUTOINCREMENT"},
      {"DS NVARCHAR(MAX), E VARCHAR( max ), B VARBINARY(MAX)", "DS TEXT, E TEXT, B BLOB"},
      {"CDAPP VARCHAR(16)", "CDAPP VARCHAR(16)"}, {"VALUES (@@SPID, @@spid, ?)", "VALUES (57, 57, ?)"},
      {"DTINCLUSAO DATETIME DEFAULT GETDATE(),", "DTINCLUSAO DATETIME DEFAULT " + now + ","},
      {"WHERE DS = N'Operação' AND N = 1", "WHERE DS = 'Operação' AND N = 1"},
      {"SELECT 'GETDATE()', \"GETDATE()\", [@@SPID] -- GETDATE()",
       "SELECT 'GETDATE()', \"GETDATE()\", [@@SPID] -- GETDATE()"},
      {"SELECT 'it''s GETDATE()' /* @@SPID */", "SELECT 'it''s GETDATE()' /* @@SPID */"},
      {"WHERE MYGETDATE() = XCONVERT(A,B)", "WHERE MYGETDATE() = XCONVERT(A,B)"},
  };
  for (const auto& [text, sqlite] : cases) EXPECT_EQ(TranslateTSqlToSqlite(text, 57), sqlite) << text;
}

TEST(DataPacketTest, FieldTypesFollowEveryRowAndNamesStayUnique) {
  const std::pair<const char*, const char*> cases[] = {
      {"[[1L], [Null]]", R"([["A", 3]], [[1], [Null]])"}, {"[[1L], [2.5]]", R"([["A", 5]], [[1.0], [2.5]])"},
      {"[[1L], [4294967296L]]", R"([["A", 20]], [[1L], [4294967296L]])"}, {"[[True]]", R"([["A", 11]], [[True]])"},
      {R"([["x"], [5L]])", R"([["A", 8]], [["x"], ["5"]])"}, {"[[Null]]", R"([["A", 8]], [[Null]])"},
      {"[[#45000.5#], [Null]]", R"([["A", 7]], [[#45000.5#], [Null]])"},
  };
  for (const auto& [given, expected] : cases) {
    SCOPED_TRACE(given);
    std::vector<std::vector<Variant>> rows;
    const Variant value = V(given);
    for (const Variant& row : value.ArrayItems()) rows.push_back(row.ArrayItems());
    const Variant packet = MakeDataPacket(DataPacketOf({"A"}, rows));
    EXPECT_EQ(VariantText(packet), std::string(R"(["DataPacket 1", )") + expected + "]");
    EXPECT_EQ(MakeDataPacket(ReadDataPacket(packet)), packet);
  }
  EXPECT_EQ(VariantText(MakeDataPacket(DataPacketOf({"A", "a", ""}, {}))),
            R"(["DataPacket 1", [["A", 8], ["a_1", 8], ["Field3", 8]], []])");
}

// A client's value that does not fit where it goes is refused as an overflow; a
// parameter keeps the value at the end of a reference chain, never a reference.
TEST(DataPacketTest, ValuesThatDoNotFitAreRefusedAndParametersKeepNoReference) {
  const auto form = [](const char* format, std::uint16_t type, Variant row) {
    return Variant::Array({format, Variant::Array({Variant::Array({"A", static_cast<std::int32_t>(type)})}),
                           Variant::Array({std::move(row)})});
  };
  const struct {
    const char* label;
    std::uint16_t type;
    Variant value;
  } refused[] = {
      {"beyond Integer", kVarInteger, Variant(std::uint64_t{18446744073346308441u})},
      {"beyond Int64", kVarInt64, Variant(UINT64_MAX)},
      {"NaN date", kVarDate, Variant::FromDate(std::nan(""))},
      {"date after 9999", kVarDate, Variant::FromDate(platform::kMaxDateTime)},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.label);
    // The refusal's text, or "accepted".
    const auto refusal = [](const std::function<void()>& read) {
      try {
        read();
      } catch (const EProviderError& e) {
        return std::string(e.what());
      }
      return std::string("accepted");
    };
    const std::string packet = refusal([&] { ReadDataPacket(form(kDataPacketFormat, c.type, Variant::Array({c.value}))); });
    EXPECT_NE(packet.find("row 0, field A: overflow"), std::string::npos) << packet;
    const std::string delta = refusal([&] { ReadDelta(form(kDeltaFormat, c.type, Variant::Array({1, Variant::Array({c.value})}))); });
    EXPECT_NE(delta.find("row 0, field A: overflow"), std::string::npos) << delta;
    if (c.type == kVarInteger) continue;  // a parameter takes any 64-bit integer
    const std::string param = refusal([&] { ReadParams(Variant::Array({Variant::Array({"P", c.value})})); });
    EXPECT_NE(param.find("parameter P: overflow"), std::string::npos) << param;
  }
  Variant value = 7;
  Variant reference = Variant::ByRef(value);
  const auto params = ReadParams(Variant::Array({Variant::Array({"P", Variant::ByRef(reference)})}));
  ASSERT_EQ(params.size(), 1u);
  EXPECT_FALSE(params[0].second.IsByRef());
  EXPECT_EQ(params[0].second, Variant(7));
}

}  // namespace qar
