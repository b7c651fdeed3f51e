// The same cases on both drivers that reach a SQLite database: embedded ("Provider=SQLite") and ODBC ("Driver=SQLite3").
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "../platform/helpers/helper_process.h"
#include "session_statements.h"
#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "data/data_set_provider.h"
#include "data/statement_cache.h"
#include "scratch_database.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's runtime
#endif

namespace qar {
namespace {

using namespace qar::platform::test;

class SqliteDatabaseTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    platform::SetShortDateFormat("dd/MM/yyyy", '/');
    connection.SetConnectionString(ConnectionString());
    connection.Open();
  }
  void TearDown() override { connection.Close(); }
  std::string ConnectionString() const { return GetParam() + database_.DriverFile(); }

  template <class T>
  T& Add(const std::string& text) {
    T& component = form.CreateComponent<T>();
    component.SetConnection(&connection);
    if constexpr (std::is_same_v<T, TADOQuery>) component.SQL().SetText(text);
    else component.SetCommandText(text);
    return component;
  }
  // The first field of the first row of `select`, as text.
  std::string Value(const std::string& select) {
    TADOQuery& query = Add<TADOQuery>(select);
    query.Open();
    return query.Fields(0).AsString();
  }
  TStatementCacheStats Cache() const { return connection.ConnectionObject()->StatementCache(); }

  // Gone after the connection and its pooled sessions.
  const ::qar::testing::TScratchDatabase database_{GetParam()[0] == 'P' ? "embedded.db" : "odbc.db"};
  TComponent form;
  TADOConnection& connection = form.CreateComponent<TADOConnection>();
};

TEST_P(SqliteDatabaseTest, ParametersBindByNameAndFieldsReadAsText) {
  connection.Execute("CREATE TABLE T (ID INTEGER, DS VARCHAR(20), VL FLOAT, DT DATETIME)");
  TADOCommand& insert = Add<TADOCommand>("INSERT INTO T (DS, ID, VL, DT) VALUES (:DS, :ID, :VL, :DT)");
  TParameters& values = insert.Parameters();
  values.ParamByName("ID").SetValue(17);
  values.ParamByName("DS").SetValue(std::string("A\xE7\xE3o:'x'"));  // Windows-1252
  values.ParamByName("VL").SetValue(2.5);
  values.ParamByName("DT").SetValue(Variant::FromDate(platform::EncodeDateTime({2024, 3, 5, 14, 3, 27, 120})));
  EXPECT_EQ(insert.Execute(), 1);
  values.ParamByName("ID").SetValue(18);
  insert.Execute();

  TADOQuery& query = Add<TADOQuery>("SELECT ID, DS, VL, DT FROM T WHERE ID >= :ID AND DS <> 'a::b' ORDER BY ID");
  query.Parameters().ParamByName("ID").SetValue(std::string("17"));
  query.Parameters().ParamByName("ID").SetDataType(ftInteger);
  query.Open();
  EXPECT_EQ(query.RecordCount(), 2);
  // A date column reads as a date, printed with the process's date settings.
  EXPECT_EQ(query.FieldByName("id").AsString() + "|" + query.FieldByName("DS").AsString() + "|" +
                query.FieldByName("DT").AsString(), "17|A\xE7\xE3o:'x'|05/03/2024 14:03:27");
  EXPECT_EQ(query.FieldByName("VL").AsFloat(), 2.5);
  EXPECT_THROW(query.FieldByName("NOPE"), EDataError);
  query.Next();
  EXPECT_EQ(query.FieldByName("ID").AsString(), "18");
  query.Next();
  EXPECT_TRUE(query.Eof() && query.FieldByName("DS").AsString().empty()) << "no current row: every field is empty";
}

TEST_P(SqliteDatabaseTest, StatementsReportTheirOwnRowsEndAtTheFirstNulAndRollBack) {
  // A text copied out of a fixed-size buffer may still carry its terminator and what lay behind it.
  connection.Execute(std::string("CREATE TABLE T (ID INTEGER)\0DROP TABLE T", 40));
  EXPECT_EQ(connection.Execute("INSERT INTO T VALUES (1), (2)"), 2);
  EXPECT_EQ(connection.Execute("CREATE INDEX IXT ON T (ID)"), 0) << "not the insert's count";
  EXPECT_EQ(connection.Execute("UPDATE T SET ID = 3 WHERE ID = 9"), 0);
  for (const bool commit : {false, true}) {
    connection.BeginTrans();
    connection.Execute("INSERT INTO T VALUES (5)");
    EXPECT_EQ(Value("SELECT COUNT(*) FROM T"), "3");  // a kept SELECT must not hold the transaction open
    commit ? connection.CommitTrans() : connection.RollbackTrans();
    EXPECT_FALSE(connection.InTransaction());
  }
  connection.Close();  // what was not committed goes with the session
  EXPECT_EQ(Value("SELECT COUNT(*) || '/' || MAX(ID) FROM T"), "3/5");
}

// Statements are kept prepared and nothing of that shows: every run is notified, runs the text the
// handler leaves and binds what it is given now; memory stays flat; a lent connection object brings them.
TEST_P(SqliteDatabaseTest, KeptStatementsRunAsNewOnes) {
  int will = 0, complete = 0;
  std::string rewrite;
  connection.OnWillExecute = TWillExecuteEvent::FromFunction([&](TADOConnection&, std::string& text, auto&&...) {
    ++will;
    if (!rewrite.empty()) text = rewrite;
  });
  connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction([&](auto&&...) { ++complete; });
  connection.Execute("CREATE TABLE T (ID INTEGER, V)");
  TADOCommand& insert = Add<TADOCommand>("INSERT INTO T VALUES (:ID, :V)");
  TADOQuery& query = Add<TADOQuery>("SELECT COUNT(*) AS N, SUM(ID) AS S FROM T WHERE ID > :MIN");
  const auto reopen = [&] {
    query.Close();
    query.Open();
    return query.FieldByName("N").AsString() + "/" + query.FieldByName("S").AsString();
  };
  const std::uint64_t prepared = Cache().prepared;
  const Variant values[] = {Variant(7), Variant("sete"), Variant(7.5), Variant::Null(), Variant(true)};
  for (int i = 0; i < 5; ++i) {
    insert.Parameters()[0].SetValue(i + 1);
    insert.Parameters()[1].SetValue(values[i]);
    insert.Execute();
    query.Parameters()[0].SetValue(i);
    EXPECT_EQ(reopen(), "1/" + std::to_string(i + 1));
  }
  EXPECT_EQ(Cache().prepared - prepared, 2u) << "each text prepared once";
  EXPECT_EQ(Value("SELECT group_concat(typeof(V) || ':' || COALESCE(V, ''), ',') FROM T"),
            "integer:7,text:sete,real:7.5,null:,integer:1");
  EXPECT_EQ(std::to_string(will) + "/" + std::to_string(complete), "12/12");
  rewrite = "SELECT -1 AS N, -1 AS S";
  EXPECT_EQ(reopen(), "-1/-1");
  rewrite.clear();
  EXPECT_EQ(reopen(), "1/5") << "the kept statement is the query's own";

  // Ten thousand runs more leave the cache and the heap as they were.
  TADOCommand& update = Add<TADOCommand>("UPDATE T SET V = :V WHERE ID = 1");
  const auto runs = [&](int count) {
    for (int i = 0; i < count; ++i) {
      update.Parameters()[0].SetValue("texto da execucao " + std::to_string(i));
      update.Execute();
      reopen();
    }
  };
  connection.BeginTrans();  // no disk write per run
  runs(100);
  const TStatementCacheStats before = Cache();
#if defined(__SANITIZE_ADDRESS__)
  const std::size_t heap = __sanitizer_get_current_allocated_bytes();
#endif
  runs(10000);
  EXPECT_EQ(std::pair(Cache().cached, Cache().prepared), std::pair(before.cached, before.prepared));
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(static_cast<double>(__sanitizer_get_current_allocated_bytes()) - static_cast<double>(heap), 64.0 * 1024);
#endif
  EXPECT_EQ(Value("SELECT V FROM T WHERE ID = 1"), "texto da execucao 9999");
  connection.RollbackTrans();
  TADOConnection other;
  other.SetConnectionObject(connection.ConnectionObject());
  query.SetConnection(&other);
  query.Open();
  EXPECT_EQ(Cache().prepared - prepared, 6u) << "new: the update, two checks and the rewritten text";
}

// A transaction takes the write lock when it begins, so its read and then its write never meet another
// session's write in between; another session's write waits for it and fails, "database is locked",
// only once that session's busy timeout ("Busy Timeout", the ODBC driver's "Timeout") has passed.
TEST_P(SqliteDatabaseTest, ATransactionHoldsTheWriteLockFromItsStartAndOthersWaitForIt) {
  connection.Execute("PRAGMA journal_mode=WAL");  // the ODBC driver's default journal would block the write anyway
  connection.Execute("CREATE TABLE T (ID INTEGER)");
  TADOConnection other;
  other.SetConnectionString(ConnectionString() + (GetParam()[0] == 'P' ? ";Busy Timeout=300" : ";Timeout=300"));
  other.Execute("INSERT INTO T VALUES (1)");
  connection.BeginTrans();
  EXPECT_EQ(Value("SELECT COUNT(*) FROM T"), "1");
  const auto started = std::chrono::steady_clock::now();
  try {
    other.Execute("INSERT INTO T VALUES (2)");
    ADD_FAILURE() << "written beside an open transaction";
  } catch (const EDataError& error) {
    EXPECT_NE(std::string(error.what()).find("database is locked"), std::string::npos) << error.what();
  }
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(280));
  connection.Execute("UPDATE T SET ID = ID + 10");
  connection.CommitTrans();
  other.Execute("INSERT INTO T VALUES (2)");
  EXPECT_EQ(Value("SELECT group_concat(ID) FROM T"), "11,2");
}

// A kept statement is not reused across a schema change; the cache keeps its bound,
// dropping the least recently used; closing frees it all.
TEST_P(SqliteDatabaseTest, SchemaChangesAndTheCachesBound) {
  connection.Execute("CREATE TABLE T (A INTEGER)");
  TADOQuery& query = Add<TADOQuery>("SELECT * FROM T");
  const auto reopen = [&] {
    query.Close();
    query.Open();
    std::string fields;
    for (int i = 0; i < query.FieldCount(); ++i)
      fields += query.Fields(i).FieldName() + "=" + query.Fields(i).AsString() + " ";
    return fields;
  };
  EXPECT_EQ(reopen(), "A= ");
  for (const char* sql : {"DROP TABLE T", "CREATE TABLE T (B VARCHAR(5), C INTEGER)", "INSERT INTO T VALUES ('x', 2)"})
    connection.Execute(sql);
  EXPECT_EQ(reopen(), "B=x C=2 ");
  connection.Execute("DROP TABLE T");
  EXPECT_THROW(reopen(), EDataError);
  connection.Execute("CREATE TABLE T (D INTEGER)");
  EXPECT_EQ(reopen(), "D= ");

  const std::uint64_t prepared = Cache().prepared;
  const auto run = [&](std::size_t i) { connection.Execute("SELECT " + std::to_string(i)); };
  for (std::size_t i = 0; i < kStatementCacheCapacity; ++i) run(i);
  run(0);                        // now the most recently used
  run(kStatementCacheCapacity);  // drops 1, the least recently used
  run(0);
  EXPECT_EQ(Cache().prepared - prepared, kStatementCacheCapacity + 1) << "0 was kept";
  run(1);
  EXPECT_EQ(Cache().prepared - prepared, kStatementCacheCapacity + 2) << "1 was dropped";
  EXPECT_EQ(Cache().cached, kStatementCacheCapacity);
  connection.Close();
  run(0);
  EXPECT_EQ(Cache().cached, kStatementCacheCapacity) << "the pooled session came back with its statements";
  connection.Close();
  connection.ConnectionObject()->SetSessionPool(nullptr);
  run(0);
  EXPECT_EQ(Cache().cached, 1u) << "a new session prepares anew";
}

// GetRecords(n) fetches no more than n rows: the query's condition fails on the third
// row, so only a read past 2 rows gets there. With no row, the fields keep their types.
TEST_P(SqliteDatabaseTest, GetRecordsFetchesOnlyTheRowsAskedFor) {
  connection.Execute("CREATE TABLE T (ID INTEGER PRIMARY KEY, DS VARCHAR(10), VL FLOAT, DT DATETIME)");
  connection.Execute("INSERT INTO T VALUES (1, 'a', 1.5, '2024-03-05 14:03:27'), (2, 'b', 2.5, '2024-03-06 10:00:00'),"
                     " (3, 'c', 3.5, NULL), (4, 'd', 4.5, NULL), (5, 'e', 5.5, NULL)");
  // abs() of the smallest integer is an overflow error, raised as the row is read.
  TADOQuery& query = Add<TADOQuery>("SELECT ID, DS, VL, DT FROM T WHERE ID <= 2 OR abs(ID - ID - 9223372036854775807 - 1) > 0");
  TDataSetProvider& provider = form.CreateComponent<TDataSetProvider>();
  provider.SetDataSet(&query);
  const std::vector<std::uint16_t> types{kVarInteger, kVarOleStr, kVarDouble, kVarDate};
  for (const std::int32_t count : {1, 2, 0}) {
    Variant none, owner;
    std::int32_t records = -1;
    const TDataPacket packet = ReadDataPacket(provider.GetRecords(count, records, 0, "", none, owner));
    EXPECT_EQ(records, count);
    ASSERT_EQ(packet.Fields.size(), types.size()) << count;
    for (std::size_t i = 0; i < types.size(); ++i) EXPECT_EQ(packet.Fields[i].Type, types[i]) << count << " " << i;
  }
  Variant none, owner;
  std::int32_t records = 0;
  EXPECT_THROW(provider.GetRecords(-1, records, 0, "", none, owner), EDataError) << "every row is read";
}

// Two QarDataTestHelper.exe processes, each registering its first session in
// SQLWEBTUNNING and holding it until released: each unregisters only its own.
TEST_P(SqliteDatabaseTest, ProcessesSharingTheFileUnregisterOnlyTheirOwnSessions) {
  connection.Execute(testing::kCreateSessionTable);
  const std::string helper = platform::ExtractFilePath(platform::ExecutableFileName()) + "QarDataTestHelper.exe";
  const std::string replies[] = {UniqueTempFile("session"), UniqueTempFile("session")};
  const auto start = [&](const std::string& reply, const char* form) {
    const std::string parameter = ConnectionString() + "|" + form + "|" + reply + "|" + reply + ".release";
    return platform::StartDetached(helper, OneParameter(parameter)).ok;
  };
  ASSERT_TRUE(start(replies[0], "long") && start(replies[1], "short"));
  const std::string first = WaitForFile(replies[0]), second = WaitForFile(replies[1]);
  EXPECT_NE(first, second);
  const auto release = [&](const std::string& reply) {
    std::ofstream(platform::ToNativePath(reply + ".release")).put('\n');
    const std::string deleted = WaitForFile(reply + ".done");
    std::remove((reply + ".release").c_str());
    return deleted;
  };
  EXPECT_EQ(release(replies[1]), "1");
  EXPECT_EQ(Value("SELECT group_concat(NRSID || '/' || NRAUDSID) FROM SQLWEBTUNNING"), first + "/" + first);
  EXPECT_EQ(release(replies[0]), "1");
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqliteDatabaseTest, ::testing::Values("Provider=SQLite;Data Source=", "Driver=SQLite3;Database="),
                         [](const auto& info) { return info.param[0] == 'P' ? "embedded" : "odbc"; });

}  // namespace
}  // namespace qar
