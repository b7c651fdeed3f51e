// The same cases on every driver that reaches a SQLite database: the embedded driver
// ("Provider=SQLite") and the SQLite ODBC driver ("Driver=SQLite3").
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "ctrlexecrem_statements.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "platform/datetime.h"

namespace qar {
namespace {

using namespace qar::testing;

struct DriverCase {
  const char* name;
  const char* prefix;  // connection string before the file name
};

class SqliteDatabaseTest : public ::testing::TestWithParam<DriverCase> {
 protected:
  void SetUp() override {
    // A file name relative to the working directory: under Wine the host's ODBC
    // driver receives it unchanged and resolves it in the same directory.
    platform::SetShortDateFormat("dd/MM/yyyy", '/');
    file_ = std::string("qar_data_test_") + GetParam().name + ".db";
    std::remove(file_.c_str());
    connection.SetName("adcVerifTab");
    connection.SetConnectionString(GetParam().prefix + file_);
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

  void Run(const std::string& text) {
    TADOCommand command;
    command.SetConnection(&connection);
    command.SetCommandText(text);
    command.Execute();
  }
  void CreateControlTable() {
    TADOCommand command;
    command.SetConnection(&connection);
    command.SetCommandTimeout(0);
    command.SetCommandText(kCreateCtrlExecRem);
    command.Execute();
  }
  // As a requester would insert a row with any SQLite client, relying on the defaults.
  void Request(const std::string& status, const std::string& operation, const std::string& insertedAt = "") {
    Run(std::string("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM") +
        (insertedAt.empty() ? "" : ", DTINCLUSAO") + ") VALUES ('PDV', 'SYNC', '" + operation + "', '" +
        status + "'" + (insertedAt.empty() ? "" : ", " + insertedAt) + ")");
  }
  static void SetLines(TADOQuery& query, const char* const* lines, int count) {
    query.SQL().Clear();
    for (int i = 0; i < count; ++i) query.SQL().Add(lines[i]);
  }

  std::string file_;
  TComponent form;
  TADOConnection& connection = form.CreateComponent<TADOConnection>();
};

TEST_P(SqliteDatabaseTest, ParametersBindByNameAndFieldsReadAsText) {
  Run("CREATE TABLE T (ID INTEGER, DS VARCHAR(20), VL FLOAT, DT DATETIME)");
  TADOCommand insert;
  insert.SetConnection(&connection);
  insert.SetCommandText("INSERT INTO T (DS, ID, VL, DT) VALUES (:DS, :ID, :VL, :DT)");
  insert.Parameters().ParamByName("ID").SetValue(17);
  insert.Parameters().ParamByName("DS").SetValue(std::string("A\xE7\xE3o:'x'"));  // Windows-1252
  insert.Parameters().ParamByName("VL").SetValue(2.5);
  insert.Parameters().ParamByName("DT").SetValue(
      Variant::FromDate(platform::EncodeDateTime({2024, 3, 5, 14, 3, 27, 120})));
  EXPECT_EQ(insert.Execute(), 1);

  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT ID, DS, VL, DT FROM T WHERE ID = :ID AND DS <> 'a::b'");
  query.Parameters().ParamByName("ID").SetValue(std::string("17"));
  query.Parameters().ParamByName("ID").SetDataType(ftInteger);
  query.Open();
  EXPECT_EQ(query.RecordCount(), 1);
  EXPECT_EQ(query.FieldByName("id").AsString(), "17");
  EXPECT_EQ(query.FieldByName("DS").AsString(), "A\xE7\xE3o:'x'");
  EXPECT_EQ(query.FieldByName("VL").AsFloat(), 2.5);
  // A date column reads as a date, printed with the process's date settings.
  EXPECT_EQ(query.FieldByName("DT").AsString(), "05/03/2024 14:03:27");
  EXPECT_THROW(query.FieldByName("NOPE"), EDataError);
}

TEST_P(SqliteDatabaseTest, FetchWalksEveryRowThenReadsEveryFieldAsEmptyText) {
  Run("CREATE TABLE T (ID INTEGER, DS VARCHAR(20))");
  Run("INSERT INTO T VALUES (1, 'a')");
  Run("INSERT INTO T VALUES (2, 'b')");
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT ID, DS FROM T ORDER BY ID");
  query.Open();
  std::string seen;
  for (; !query.Eof(); query.Next()) seen += query.FieldByName("ID").AsString() + query.FieldByName("DS").AsString();
  EXPECT_EQ(seen, "1a2b");
  query.Close();
  query.SQL().Clear();
  query.SQL().Add("SELECT ID, DS FROM T WHERE ID > 2");
  query.Open();
  EXPECT_TRUE(query.Eof());
  EXPECT_EQ(query.FieldByName("ID").AsString(), "");
  EXPECT_EQ(query.FieldByName("DS").AsString(), "");
}

TEST_P(SqliteDatabaseTest, StatementTextEndsAtItsFirstNul) {
  // A text copied out of a fixed-size buffer may still carry its terminator and what lay behind it.
  std::string text = "CREATE TABLE T (ID INTEGER)";
  text += '\0';
  text += "DROP TABLE T";
  Run(text);
  Run("INSERT INTO T VALUES (1)");
}

TEST_P(SqliteDatabaseTest, StatementReportsOnlyTheRowsItChanged) {
  Run("CREATE TABLE T (ID INTEGER)");
  EXPECT_EQ(connection.Execute("INSERT INTO T VALUES (1), (2)"), 2);
  EXPECT_EQ(connection.Execute("CREATE INDEX IXT ON T (ID)"), 0) << "not the insert's count";
  EXPECT_EQ(connection.Execute("UPDATE T SET ID = 3 WHERE ID = 9"), 0);
}

TEST_P(SqliteDatabaseTest, RollbackUndoesAndCommitKeeps) {
  Run("CREATE TABLE T (ID INTEGER)");
  connection.BeginTrans();
  EXPECT_TRUE(connection.InTransaction());
  Run("INSERT INTO T VALUES (1)");
  connection.RollbackTrans();
  EXPECT_FALSE(connection.InTransaction());
  connection.BeginTrans();
  Run("INSERT INTO T VALUES (2)");
  connection.CommitTrans();
  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT COUNT(*) AS N, MAX(ID) AS M FROM T");
  query.Open();
  EXPECT_EQ(query.FieldByName("N").AsString(), "1");
  EXPECT_EQ(query.FieldByName("M").AsString(), "2");
}

TEST_P(SqliteDatabaseTest, ServerErrorBecomesAnExceptionWithTheServersText) {
  TEventStatus reported = esOK;
  std::string description;
  connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(
      [&](TADOConnection&, std::int64_t, const TADOError* error, TEventStatus& status,
          TADOCommandObject*, TCustomADODataSet*) {
        reported = status;
        if (error) description = error->Description;
      });
  try {
    Run("SELECT * FROM NADA");
    FAIL() << "no error";
  } catch (const EDataError& error) {
    EXPECT_NE(std::string(error.what()).find("no such table: NADA"), std::string::npos) << error.what();
    EXPECT_EQ(description, error.what());
  }
  EXPECT_EQ(reported, esErrorsOccured);
}

TEST_P(SqliteDatabaseTest, ControlTableStatementsRunTextForText) {
  EXPECT_TRUE(connection.ConnectionObject()->SqliteDialect());
  CreateControlTable();
  EXPECT_THROW(CreateControlTable(), EDataError) << "the table exists";
  Request("P", "{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}");
  Request("P", "{\"CDFILIAL\":\"009\"}",
          "strftime('%Y-%m-%d %H:%M:%f','now','localtime','-1 day')");  // yesterday
  Request("p", "{}");

  TADOQuery& pending = form.CreateComponent<TADOQuery>();
  pending.SetConnection(&connection);
  SetLines(pending, kPendingRows, 4);
  pending.Open();
  ASSERT_EQ(pending.RecordCount(), 1);  // neither yesterday's row nor "p"
  EXPECT_EQ(pending.FieldByName("IDSTCTRLEXECREM").AsString(), "P");
  EXPECT_EQ(pending.FieldByName("IDCTRLEXECREM").AsString(), "1");
  EXPECT_EQ(pending.FieldByName("DSOPERACAO").AsString(), "{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}");

  TADOQuery& byId = form.CreateComponent<TADOQuery>();
  byId.SetConnection(&connection);
  SetLines(byId, kRowById, 4);
  TParameter& id = byId.Parameters().ParamByName("IDCTRLEXECREM");
  id.SetDataType(ftInteger);
  id.SetSize(16);
  id.SetValue(Variant("3").AsInteger());
  byId.Open();
  EXPECT_EQ(byId.FieldByName("IDSTCTRLEXECREM").AsString(), "p");
  byId.Close();
  id.SetValue(2);  // inserted yesterday
  byId.Open();
  EXPECT_EQ(byId.FieldByName("IDSTCTRLEXECREM").AsString(), "");

  TADOCommand& cancel = form.CreateComponent<TADOCommand>();
  cancel.SetConnection(&connection);
  cancel.SetCommandTimeout(0);
  cancel.SetCommandText(kCancelUpdate);
  cancel.Parameters().ParamByName("IDCTRLEXECREM").SetValue(1);
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
  EXPECT_EQ(pending.FieldByName("IDSTCTRLEXECREM").AsString(), "");
}

TEST_P(SqliteDatabaseTest, SessionRowsRegisterAndUnregisterOnTheirOwnSession) {
  Run("CREATE TABLE SQLWEBTUNNING (NRSID INTEGER, NRAUDSID INTEGER, DSREMOTEADDR VARCHAR(15),"
      " DSREMOTEHOST VARCHAR(15), DSREMOTEAPPL VARCHAR(10), DSREMOTEOPER VARCHAR(12),"
      " DSSERVERRDM VARCHAR(20), DSSERVERDLL VARCHAR(15), DSSERVMETHOD VARCHAR(30),"
      " NRSERVERDID INTEGER, DTSTARTDATE DATETIME)");
  TADOCommand command;
  command.SetConnection(&connection);
  command.SetCommandText(kInsertLongSqlServer);
  ASSERT_EQ(command.Parameters().Count(), 7);
  const char* values[] = {"192.168.0.10", "PDV01", "CAIXA", "MARIA", "dmVendas", "QarSnc.exe", "GravaPedido"};
  for (int i = 0; i < 7; ++i) command.Parameters()[i].SetValue(values[i]);
  command.Execute();

  command.SetCommandText(kInsertShortSqlServer);
  ASSERT_EQ(command.Parameters().Count(), 6);
  command.Parameters()[3].SetValue("dmVendas");
  command.Parameters()[4].SetValue("QarSnc.exe");
  command.Parameters()[5].SetValue(12);
  command.Execute();

  TADOQuery query;
  query.SetConnection(&connection);
  query.SQL().Add("SELECT NRSID, NRAUDSID, DSREMOTEOPER, DSSERVMETHOD, NRSERVERDID FROM SQLWEBTUNNING ORDER BY NRSERVERDID");
  query.Open();
  ASSERT_EQ(query.RecordCount(), 2);
  const std::string spid = std::to_string(connection.ConnectionObject()->SessionId());
  EXPECT_EQ(query.FieldByName("NRSID").AsString(), spid);
  EXPECT_EQ(query.FieldByName("NRAUDSID").AsString(), spid);
  EXPECT_EQ(query.FieldByName("DSSERVMETHOD").AsString(), "GravaPedido");

  command.SetCommandText(kDeleteSqlServer);
  EXPECT_EQ(command.Execute(), 2);
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqliteDatabaseTest,
                         ::testing::Values(DriverCase{"embedded", "Provider=SQLite;Data Source="},
                                           DriverCase{"odbc", "Driver=SQLite3;Database="}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qar
