// The same cases on every driver that reaches a SQLite database: the embedded driver
// ("Provider=SQLite") and the SQLite ODBC driver ("Driver=SQLite3").
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "../platform/helpers/helper_process.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/control_table.h"
#include "data/data_error.h"
#include "data/statement_cache.h"
#include "platform/datetime.h"
#include "session_statements.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's runtime
#endif

namespace qar {
namespace {

using namespace qar::platform::test;

struct DriverCase {
  const char* name;
  const char* prefix;  // connection string before the file name
};

// Bytes the program holds on its heap, where the allocator tells.
std::optional<std::size_t> LiveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return std::nullopt;
#endif
}

class SqliteDatabaseTest : public ::testing::TestWithParam<DriverCase> {
 protected:
  void SetUp() override {
    platform::SetShortDateFormat("dd/MM/yyyy", '/');
    std::remove(file_.c_str());
    connection.SetConnectionString(ConnectionString());
    try {
      connection.Open();
    } catch (const EDataError& error) {
      if (error.SqlState() == "IM002" || error.SqlState() == "IM003")
        GTEST_SKIP() << "ODBC driver not installed: " << error.what();
      throw;
    }
  }
  void TearDown() override {
    connection.Close();
    std::remove(file_.c_str());
  }
  std::string ConnectionString() const { return GetParam().prefix + file_; }

  // The first field of the first row of `select`, as text.
  std::string Value(const std::string& select) {
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add(select);
    query.Open();
    return query.Fields(0).AsString();
  }
  TStatementCacheStats Cache() const { return connection.ConnectionObject()->StatementCache(); }

  // Relative to the working directory: under Wine the host's ODBC driver receives the
  // name unchanged and resolves it in the same directory.
  std::string file_ = std::string("qar_data_test_") + GetParam().name + ".db";
  TComponent form;
  TADOConnection& connection = form.CreateComponent<TADOConnection>();
};

TEST_P(SqliteDatabaseTest, ParametersBindByNameAndFieldsReadAsText) {
  connection.Execute("CREATE TABLE T (ID INTEGER, DS VARCHAR(20), VL FLOAT, DT DATETIME)");
  TADOCommand insert;
  insert.SetConnection(&connection);
  insert.SetCommandText("INSERT INTO T (DS, ID, VL, DT) VALUES (:DS, :ID, :VL, :DT)");
  insert.Parameters().ParamByName("ID").SetValue(17);
  insert.Parameters().ParamByName("DS").SetValue(std::string("A\xE7\xE3o:'x'"));  // Windows-1252
  insert.Parameters().ParamByName("VL").SetValue(2.5);
  insert.Parameters().ParamByName("DT").SetValue(
      Variant::FromDate(platform::EncodeDateTime({2024, 3, 5, 14, 3, 27, 120})));
  EXPECT_EQ(insert.Execute(), 1);
  insert.Parameters().ParamByName("ID").SetValue(18);
  insert.Execute();

  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT ID, DS, VL, DT FROM T WHERE ID >= :ID AND DS <> 'a::b' ORDER BY ID");
  query.Parameters().ParamByName("ID").SetValue(std::string("17"));
  query.Parameters().ParamByName("ID").SetDataType(ftInteger);
  query.Open();
  EXPECT_EQ(query.RecordCount(), 2);
  EXPECT_EQ(query.FieldByName("id").AsString(), "17");
  EXPECT_EQ(query.FieldByName("DS").AsString(), "A\xE7\xE3o:'x'");
  EXPECT_EQ(query.FieldByName("VL").AsFloat(), 2.5);
  // A date column reads as a date, printed with the process's date settings.
  EXPECT_EQ(query.FieldByName("DT").AsString(), "05/03/2024 14:03:27");
  EXPECT_THROW(query.FieldByName("NOPE"), EDataError);
  query.Next();
  EXPECT_EQ(query.FieldByName("ID").AsString(), "18");
  query.Next();
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(query.FieldByName("DS").AsString(), "") << "no current row: every field is empty";
}

TEST_P(SqliteDatabaseTest, StatementsReportTheirOwnRowsAndEndAtTheFirstNul) {
  // A text copied out of a fixed-size buffer may still carry its terminator and what lay behind it.
  connection.Execute(std::string("CREATE TABLE T (ID INTEGER)\0DROP TABLE T", 40));
  EXPECT_EQ(connection.Execute("INSERT INTO T VALUES (1), (2)"), 2);
  EXPECT_EQ(connection.Execute("CREATE INDEX IXT ON T (ID)"), 0) << "not the insert's count";
  EXPECT_EQ(connection.Execute("UPDATE T SET ID = 3 WHERE ID = 9"), 0);
}

TEST_P(SqliteDatabaseTest, RollbackUndoesAndCommitKeeps) {
  connection.Execute("CREATE TABLE T (ID INTEGER)");
  connection.BeginTrans();
  connection.Execute("INSERT INTO T VALUES (1)");
  EXPECT_EQ(Value("SELECT COUNT(*) FROM T"), "1");  // a kept SELECT must not hold the transaction open
  connection.RollbackTrans();
  EXPECT_FALSE(connection.InTransaction());
  connection.BeginTrans();
  connection.Execute("INSERT INTO T VALUES (2)");
  EXPECT_EQ(Value("SELECT COUNT(*) FROM T"), "1");
  connection.CommitTrans();
  EXPECT_EQ(Value("SELECT COUNT(*) || '/' || MAX(ID) FROM T"), "1/2");
}

TEST_P(SqliteDatabaseTest, ControlTableStatementsRunAsTheAgentSendsThem) {
  EXPECT_TRUE(connection.ConnectionObject()->SqliteDialect());
  const auto createTable = [&] { connection.Execute(JoinStatementLines(kCreateTable)); };
  createTable();
  EXPECT_THROW(createTable(), EDataError) << "the table exists";
  // As a requester inserts rows with any SQLite client, relying on the defaults.
  const std::string insert = "INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM";
  connection.Execute(insert + ") VALUES ('PDV', 'SYNC', '{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}', 'P')");
  connection.Execute(insert + ", DTINCLUSAO) VALUES ('PDV', 'SYNC', '{}', 'P', "
                              "strftime('%Y-%m-%d %H:%M:%f','now','localtime','-1 day'))");  // yesterday
  connection.Execute(insert + ") VALUES ('PDV', 'SYNC', '{}', 'p')");

  TADOQuery& pending = form.CreateComponent<TADOQuery>();
  pending.SetConnection(&connection);
  for (const char* line : kPendingRowsQuery) pending.SQL().Add(line);
  pending.Open();
  ASSERT_EQ(pending.RecordCount(), 1);  // neither yesterday's row nor "p"
  EXPECT_EQ(pending.FieldByName("IDCTRLEXECREM").AsString(), "1");
  EXPECT_EQ(pending.FieldByName("DSOPERACAO").AsString(), "{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}");

  TADOQuery& byId = form.CreateComponent<TADOQuery>();
  byId.SetConnection(&connection);
  for (const char* line : kRowByIdQuery) byId.SQL().Add(line);
  TParameter& id = byId.Parameters().ParamByName(kIdParameter);
  id.SetDataType(ftInteger);
  id.SetValue(3);
  byId.Open();
  EXPECT_EQ(byId.FieldByName("IDSTCTRLEXECREM").AsString(), "p");
  byId.Close();
  id.SetValue(2);  // inserted yesterday
  byId.Open();
  EXPECT_EQ(byId.FieldByName("IDSTCTRLEXECREM").AsString(), "");

  TADOCommand& cancel = form.CreateComponent<TADOCommand>();
  cancel.SetConnection(&connection);
  cancel.SetCommandText(JoinStatementLines(kCancelUpdate));
  cancel.Parameters().ParamByName(kIdParameter).SetValue(1);
  EXPECT_EQ(cancel.Execute(), 1);

  TADOQuery check;
  check.SetConnection(&connection);
  check.SQL().Add("SELECT IDSTCTRLEXECREM, DSERRO, DTULTATU, DTINCLUSAO FROM CTRLEXECREM WHERE IDCTRLEXECREM = 1");
  check.Open();
  EXPECT_EQ(check.FieldByName("IDSTCTRLEXECREM").AsString(), "NOK");
  EXPECT_EQ(check.FieldByName("DSERRO").AsString(), "Cancelado pelo operador");
  const std::string today = platform::FormatDateTime("yyyy-mm-dd", platform::Now());
  EXPECT_EQ(platform::FormatDateTime("yyyy-mm-dd", check.FieldByName("DTULTATU").Value().AsDateTime()), today);
  // The column default gives the local date-time.
  const platform::TDateTime inserted = check.FieldByName("DTINCLUSAO").Value().AsDateTime();
  EXPECT_LT(std::abs(inserted - platform::Now()) * 24 * 60, 5.0);
  pending.Close();
  pending.Open();
  EXPECT_TRUE(pending.IsEmpty());
}

// Statements are kept prepared, and nothing of that shows: every run is notified,
// runs what the handler leaves in the text and binds what it is given now.
TEST_P(SqliteDatabaseTest, KeptStatementsRunAsNewOnes) {
  int will = 0, complete = 0;
  std::string rewrite;
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [&](TADOConnection&, std::string& text, TCursorType&, TADOLockType&, TCommandType&,
          TExecuteOptions&, TEventStatus&, TADOCommandObject*, TCustomADODataSet*) {
        ++will;
        if (!rewrite.empty()) text = rewrite;
      });
  connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(
      [&](TADOConnection&, std::int64_t, const TADOError*, TEventStatus&, TADOCommandObject*,
          TCustomADODataSet*) { ++complete; });
  connection.Execute("CREATE TABLE T (ID INTEGER, V)");
  TADOCommand insert;
  insert.SetConnection(&connection);
  insert.SetCommandText("INSERT INTO T VALUES (:ID, :V)");
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT COUNT(*) AS N, SUM(ID) AS S FROM T WHERE ID > :MIN");
  const std::uint64_t prepared = Cache().prepared;
  const Variant values[] = {Variant(7), Variant("sete"), Variant(7.5), Variant::Null(), Variant(true)};
  for (int i = 0; i < 5; ++i) {
    insert.Parameters()[0].SetValue(i + 1);
    insert.Parameters()[1].SetValue(values[i]);
    insert.Execute();
    query.Parameters()[0].SetValue(i);
    query.Close();
    query.Open();
    EXPECT_EQ(query.FieldByName("N").AsString() + "/" + query.FieldByName("S").AsString(), "1/" + std::to_string(i + 1));
  }
  EXPECT_EQ(Cache().prepared - prepared, 2u) << "each text prepared once";
  EXPECT_EQ(Value("SELECT group_concat(typeof(V) || ':' || COALESCE(V, ''), ',') FROM T"),
            "integer:7,text:sete,real:7.5,null:,integer:1");
  EXPECT_EQ(will, 12);
  EXPECT_EQ(complete, 12);

  rewrite = "SELECT -1 AS N, -1 AS S";
  query.Close();
  query.Open();
  EXPECT_EQ(query.FieldByName("N").AsString(), "-1");
  rewrite.clear();
  query.Close();
  query.Open();
  EXPECT_EQ(query.FieldByName("N").AsString() + "/" + query.FieldByName("S").AsString(), "1/5")
      << "the kept statement is the query's own";

  TADOConnection other;  // handed the object, and with it the kept statements
  other.SetConnectionObject(connection.ConnectionObject());
  query.SetConnection(&other);
  query.Open();
  EXPECT_EQ(Cache().prepared - prepared, 4u) << "new: only the check and the rewritten text";
}

TEST_P(SqliteDatabaseTest, SchemaChangeBetweenRunsGivesTheNewSchemasResult) {
  connection.Execute("CREATE TABLE T (A INTEGER)");
  connection.Execute("INSERT INTO T VALUES (1)");
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT * FROM T");
  query.Open();
  EXPECT_EQ(query.FieldCount(), 1);
  connection.Execute("DROP TABLE T");
  connection.Execute("CREATE TABLE T (B VARCHAR(5), C INTEGER)");
  connection.Execute("INSERT INTO T VALUES ('x', 2)");
  query.Close();
  query.Open();
  ASSERT_EQ(query.FieldCount(), 2);
  EXPECT_EQ(query.Fields(0).FieldName() + query.Fields(0).AsString() + query.Fields(1).AsString(), "Bx2");
  connection.Execute("DROP TABLE T");
  query.Close();
  try {
    query.Open();
    FAIL() << "no error";
  } catch (const EDataError& error) {
    EXPECT_NE(std::string(error.what()).find("no such table: T"), std::string::npos) << error.what();
  }
  connection.Execute("CREATE TABLE T (D INTEGER)");
  query.Open();
  EXPECT_EQ(query.Fields(0).FieldName(), "D");
}

TEST_P(SqliteDatabaseTest, CacheKeepsItsBoundDroppingTheLeastRecentlyUsed) {
  const int capacity = static_cast<int>(kStatementCacheCapacity);
  const std::uint64_t prepared = Cache().prepared;
  const auto run = [&](int i) { connection.Execute("SELECT " + std::to_string(i)); };
  for (int i = 0; i < capacity; ++i) run(i);
  run(0);         // now the most recently used
  run(capacity);  // drops 1, the least recently used
  EXPECT_EQ(Cache().cached, kStatementCacheCapacity);
  EXPECT_EQ(Cache().prepared - prepared, kStatementCacheCapacity + 1);
  run(0);
  EXPECT_EQ(Cache().prepared - prepared, kStatementCacheCapacity + 1) << "0 was kept";
  run(1);
  EXPECT_EQ(Cache().prepared - prepared, kStatementCacheCapacity + 2) << "1 was dropped";
  EXPECT_EQ(Cache().cached, kStatementCacheCapacity);
}

TEST_P(SqliteDatabaseTest, SameStatementRunTenThousandTimesKeepsMemoryFlat) {
  connection.Execute("CREATE TABLE T (ID INTEGER, DS VARCHAR(40))");
  connection.Execute("INSERT INTO T VALUES (1, '')");
  TADOCommand update;
  update.SetConnection(&connection);
  update.SetCommandText("UPDATE T SET DS = :DS WHERE ID = :ID");
  update.Parameters()[1].SetValue(1);
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT DS FROM T WHERE ID = :ID");
  query.Parameters()[0].SetValue(1);
  const auto runs = [&](int count) {
    for (int i = 0; i < count; ++i) {
      update.Parameters()[0].SetValue("texto da execucao " + std::to_string(i));
      update.Execute();
      query.Close();
      query.Open();
    }
  };
  connection.BeginTrans();  // no disk write per run
  runs(100);
  const TStatementCacheStats before = Cache();
  const std::optional<std::size_t> heap = LiveHeapBytes();
  runs(10000);
  EXPECT_EQ(query.Fields(0).AsString(), "texto da execucao 9999");
  EXPECT_EQ(Cache().cached, before.cached);
  EXPECT_EQ(Cache().prepared, before.prepared);
  if (heap) {
    EXPECT_LT(static_cast<double>(*LiveHeapBytes()) - static_cast<double>(*heap), 64.0 * 1024);
  }
}

// A QarDataTestHelper.exe process that registers its session and holds it until released.
class SessionHolder {
 public:
  SessionHolder(const std::string& connectionString, const std::string& form)
      : reply_(UniqueTempFile("session")), release_(reply_ + ".release") {
    const std::string helper = platform::ExtractFilePath(platform::ExecutableFileName()) + "QarDataTestHelper.exe";
    started_ = platform::StartDetached(helper, OneParameter(connectionString + "|" + form + "|" + reply_ + "|" + release_)).ok;
  }
  ~SessionHolder() {
    if (started_) Release();
    for (const std::string& file : {reply_, reply_ + ".done", release_}) std::remove(file.c_str());
  }
  bool Started() const { return started_; }
  std::string SessionId() const { return Reply(reply_); }
  // Lets the helper unregister its session and end; the rows it deleted.
  std::string Release() {
    std::ofstream(platform::ToNativePath(release_)).put('\n');
    return Reply(reply_ + ".done");
  }

 private:
  static std::string Reply(const std::string& file) {
    std::optional<std::string> text;
    WaitFor([&] { return (text = ReadFileText(file)).has_value(); });
    return text.value_or("no reply");
  }
  std::string reply_, release_;
  bool started_ = false;
};

TEST_P(SqliteDatabaseTest, ProcessesSharingTheFileUnregisterOnlyTheirOwnSessions) {
  connection.Execute(testing::kCreateSessionTable);
  // Each helper is a new process opening its first session.
  SessionHolder first(ConnectionString(), "long");
  SessionHolder second(ConnectionString(), "short");
  ASSERT_TRUE(first.Started() && second.Started());
  const std::string firstId = first.SessionId();
  EXPECT_NE(firstId, second.SessionId());
  EXPECT_EQ(second.Release(), "1");
  EXPECT_EQ(Value("SELECT group_concat(NRSID || '/' || NRAUDSID) FROM SQLWEBTUNNING"), firstId + "/" + firstId);
  EXPECT_EQ(first.Release(), "1");
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqliteDatabaseTest,
                         ::testing::Values(DriverCase{"embedded", "Provider=SQLite;Data Source="},
                                           DriverCase{"odbc", "Driver=SQLite3;Database="}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qar
