#include "data/ado_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/ado_stored_proc.h"
#include "recording_session.h"
#include "session_statements.h"

namespace qar {
namespace {

using namespace qar::testing;

class ConnectionTest : public ::testing::Test {
 protected:
  // Logs what a monitor reads from each notification.
  ConnectionTest() {
    module.SetName("dmVendas");
    connection.ConnectionObject()->SetSessionFactory(RecordingFactory(recording));
    connection.BeforeConnect = TConnectionNotifyEvent::FromFunction([this](TADOConnection& c) {
      ++beforeConnectCount;
      c.SetConnectionString("Provider=MSDAORA;Data Source=ORCL");
    });
    connection.OnConnectComplete = TConnectCompleteEvent::FromFunction(
        [this](TADOConnection& c, const TADOError* error, TEventStatus& status) {
          log.push_back("connect:" + std::to_string(status) + ":" + (error ? error->Description : "-") + ":" +
                        c.Owner()->Name());
        });
    connection.OnWillExecute = TWillExecuteEvent::FromFunction(
        [this](TADOConnection&, std::string& text, TCursorType&, TADOLockType&, TCommandType& type,
               TExecuteOptions&, TEventStatus&, TADOCommandObject* command, TCustomADODataSet* recordset) {
          std::string entry = "will:" + std::to_string(type) + ":" + text;
          if (command) {
            entry += ":object=" + std::to_string(command->CommandType()) + ":" + command->CommandText();
            for (int i = 0; i < command->Parameters().Count(); ++i) {
              const TParameter& parameter = command->Parameters().Item(Variant(i));
              entry += ":" + parameter.Name() + "=" + parameter.Value().AsString() + "/" +
                       std::to_string(parameter.Direction());
            }
          }
          if (recordset) entry += ":recordset=" + recordset->Name();
          log.push_back(entry);
        });
    connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(
        [this](TADOConnection&, std::int64_t, const TADOError* error, TEventStatus& status,
               TADOCommandObject* command, TCustomADODataSet*) {
          log.push_back("complete:" + std::to_string(status) + ":" + (error ? error->Description : "-") + ":" +
                        (command ? command->CommandText() : std::string("no command")));
        });
  }

  TADOCommand& Command(const std::string& text) {
    TADOCommand& command = module.CreateComponent<TADOCommand>();
    command.SetConnection(&connection);
    command.SetCommandText(text);
    return command;
  }

  std::shared_ptr<Recording> recording = std::make_shared<Recording>();
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  int beforeConnectCount = 0;
  std::vector<std::string> log;
};

TEST_F(ConnectionTest, ClosedConnectionConnectsOnFirstUseThroughBeforeConnect) {
  TADOCommand& command = Command("DELETE FROM T");
  EXPECT_FALSE(connection.Connected());
  command.Execute();
  command.Execute();
  EXPECT_TRUE(connection.Connected());
  EXPECT_EQ(beforeConnectCount, 1);
  EXPECT_EQ(recording->connectionStrings, std::vector<std::string>{"Provider=MSDAORA;Data Source=ORCL"});
  EXPECT_EQ(log, (std::vector<std::string>{
                     "connect:0:-:dmVendas", "will:1:DELETE FROM T:object=1:DELETE FROM T",
                     "complete:0:-:DELETE FROM T", "will:1:DELETE FROM T:object=1:DELETE FROM T",
                     "complete:0:-:DELETE FROM T"}));
  connection.Close();
  connection.Open();
  EXPECT_EQ(beforeConnectCount, 2);
}

TEST_F(ConnectionTest, FailuresReportStatusOneWithTheServersTextAndReachTheCaller) {
  recording->refuseConnect = "Login failed for user 'sa'.";
  try {
    connection.Open();
    FAIL() << "connected";
  } catch (const EDataError& error) {
    EXPECT_STREQ(error.what(), "Login failed for user 'sa'.");
    EXPECT_EQ(error.SqlState(), "08001");
  }
  EXPECT_EQ(log, std::vector<std::string>{"connect:1:Login failed for user 'sa'.:dmVendas"});
  EXPECT_FALSE(connection.Connected());

  recording->refuseConnect.clear();
  connection.Open();
  recording->failWith = "Invalid object name 'NADA'.";
  try {
    Command("SELECT * FROM NADA").Execute();
    FAIL() << "no failure";
  } catch (const EDataError& error) {
    EXPECT_STREQ(error.what(), "Invalid object name 'NADA'.");
    EXPECT_EQ(error.NativeError(), 208);
  }
  EXPECT_EQ(log.back(), "complete:1:Invalid object name 'NADA'.:SELECT * FROM NADA");
}

TEST_F(ConnectionTest, EachComponentReportsItsTextTypeAndObjectsWithMarkersAsQuestionMarks) {
  TADOCommand& command = Command("update PEDIDO set SITUACAO = :SITUACAO where ID = :ID");
  command.Parameters().ParamByName("SITUACAO").SetValue("F");
  command.Parameters().ParamByName("ID").SetValue(42);
  command.Execute();
  EXPECT_EQ(log.at(1),
            "will:1:update PEDIDO set SITUACAO = ? where ID = ?:object=1:update PEDIDO set SITUACAO = ? "
            "where ID = ?:SITUACAO=F/1:ID=42/1");
  EXPECT_EQ(recording->calls.at(0).text, "update PEDIDO set SITUACAO = ? where ID = ?");
  EXPECT_EQ(recording->calls[0].parameters.at(1).value, Variant(42));

  TADOQuery& query = module.CreateComponent<TADOQuery>();
  query.SetName("adqControleTab");
  query.SetConnection(&connection);
  query.SQL().Add("SELECT A FROM T");
  query.SQL().Add(" WHERE ID = :ID AND B = :ID");
  query.Parameters().ParamByName("ID").SetValue(7);
  query.Open();
  EXPECT_EQ(log.at(3), "will:1:SELECT A FROM T\r\n WHERE ID = ? AND B = ?\r\n:recordset=adqControleTab");
  EXPECT_EQ(log.at(4), "complete:0:-:no command");
  EXPECT_EQ(recording->calls.at(1).parameters.at(1).value, Variant(7));
  query.Close();
  query.SQL().Add("   AND C = :C");
  query.Parameters().ParamByName("C").SetValue(8);
  query.Open();
  EXPECT_EQ(recording->calls.at(2).parameters.size(), 3u) << "a changed text is parsed again";

  TADOStoredProc& proc = module.CreateComponent<TADOStoredProc>();
  proc.SetConnection(&connection);
  proc.SetProcedureName("SP_GRAVA");
  proc.Parameters().CreateParameter("CODIGO", ftInteger, pdInput, 0, Variant::Null());
  proc.Parameters().CreateParameter("TOTAL", ftInteger, pdOutput, 0, Variant());
  proc.ExecProc();
  EXPECT_EQ(log.at(7), "will:3:SP_GRAVA:recordset=");
  EXPECT_EQ(proc.Parameters().ParamByName("TOTAL").Value(), Variant(99));

  TADOCommand& call = Command("SP_OUTRA");
  call.SetCommandType(cmdStoredProc);
  call.Execute();
  EXPECT_EQ(log.at(9), "will:3:SP_OUTRA:object=4:SP_OUTRA");
  EXPECT_TRUE(recording->calls.back().procedure);
}

// Only a SQLite server gets the dialect: other servers receive the text as written.
TEST_F(ConnectionTest, StatementsReachOtherServersAsWrittenWithPositionalMarkers) {
  struct Case {
    const char* dbms;
    std::string text;
    std::string sent;
    std::size_t parameters;
  };
  const Case cases[] = {
      {"Oracle", kInsertLongOracle,
       "INSERT INTO SQLWEBTUNNING\r\n"
       "     (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
       "      DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE)\r\n"
       "SELECT SID, AUDSID, ?, ?, ?,\r\n"
       "       ?, ?, ?, ?, SYSDATE\r\n"
       "FROM V$SESSION\r\n"
       "WHERE AUDSID = USERENV('SESSIONID')",
       7},
      {"Oracle", kDeleteShortOracle, kDeleteShortOracle, 0},
      {"Microsoft SQL Server", kDeleteSqlServer, kDeleteSqlServer, 0},
      {"Microsoft SQL Server", "SELECT CONVERT(VARCHAR,GETDATE(),103) WHERE 1 = :A",
       "SELECT CONVERT(VARCHAR,GETDATE(),103) WHERE 1 = ?", 1},
  };
  for (const Case& c : cases) {
    recording->dbmsName = c.dbms;
    connection.Close();
    TADOCommand& command = Command(c.text);
    for (int i = 0; i < command.Parameters().Count(); ++i) command.Parameters()[i].SetValue(i);
    command.Execute();
    EXPECT_EQ(recording->calls.back().text, c.sent);
    EXPECT_EQ(recording->calls.back().parameters.size(), c.parameters) << c.sent;
  }
}

TEST_F(ConnectionTest, WillExecuteMayRewriteTheTextCancelOrFail) {
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [](TADOConnection&, std::string& text, TCursorType&, TADOLockType&, TCommandType&,
         TExecuteOptions&, TEventStatus& status, TADOCommandObject*, TCustomADODataSet*) {
        if (text == "cancel me") status = esCancel;
        text += " -- seen";
      });
  connection.Execute("SELECT 1");
  EXPECT_EQ(recording->calls.back().text, "SELECT 1 -- seen");
  EXPECT_THROW(connection.Execute("cancel me"), EDataError);

  struct Refusal {};
  connection.OnWillExecute = TWillExecuteEvent::FromFunction([](auto&&...) { throw Refusal{}; });
  const std::size_t before = recording->calls.size();
  EXPECT_THROW(connection.Execute("SELECT 2"), Refusal);  // unchanged
  EXPECT_EQ(recording->calls.size(), before) << "the statement never ran";
}

TEST_F(ConnectionTest, CommandsAndDataSetsAreEnumeratedInIndexOrder) {
  TADOCommand& first = module.CreateComponent<TADOCommand>();
  TADOQuery& query = module.CreateComponent<TADOQuery>();
  TADOCommand& second = module.CreateComponent<TADOCommand>();
  TADOStoredProc& proc = module.CreateComponent<TADOStoredProc>();
  first.SetConnection(&connection);
  query.SetConnection(&connection);
  second.SetConnection(&connection);
  proc.SetConnection(&connection);
  ASSERT_EQ(connection.GetCommandCount(), 2);
  EXPECT_EQ(&connection.GetCommand(1), &second);
  ASSERT_EQ(connection.DataSetCount(), 2);
  EXPECT_EQ(&connection.GetADODataSet(0), &query);
  EXPECT_TRUE(connection.GetADODataSet(1).Is<TADOStoredProc>());
  second.SetConnection(nullptr);
  EXPECT_EQ(connection.GetCommandCount(), 1);
}

TEST_F(ConnectionTest, ConnectionObjectCanBeSharedAndPutBack) {
  TADOConnection other;
  auto otherRecording = std::make_shared<Recording>();
  other.ConnectionObject()->SetSessionFactory(RecordingFactory(otherRecording));
  other.SetConnectionString("Provider=SQLOLEDB;Data Source=CLIENTE");
  other.Open();

  connection.Open();
  std::shared_ptr<TConnectionObject> saved = connection.ConnectionObject();
  connection.SetConnectionObject(other.ConnectionObject());
  EXPECT_EQ(other.ConnectionObject().use_count(), 3);
  EXPECT_EQ(connection.ConnectionString(), "Provider=SQLOLEDB;Data Source=CLIENTE");
  connection.Execute("SELECT 1");
  EXPECT_EQ(otherRecording->calls.back().text, "SELECT 1");
  connection.BeginTrans();
  EXPECT_TRUE(other.InTransaction());

  connection.SetConnectionObject(saved);
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(connection.ConnectionString(), "Provider=MSDAORA;Data Source=ORCL");
  other.RollbackTrans();
  EXPECT_EQ(otherRecording->calls.back().text, "<rollback>");
}

TEST_F(ConnectionTest, ClosingTheConnectionClosesItsDataSetsAndRollsBack) {
  TADOQuery& query = module.CreateComponent<TADOQuery>();
  query.SetConnection(&connection);
  query.SQL().Add("SELECT 1");
  query.Open();
  connection.BeginTrans();
  connection.Close();
  EXPECT_FALSE(query.Active());
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(recording->calls.back().text, "<rollback>");
}

TEST(ConnectionLifetimeTest, ComponentsOutlivingTheirConnectionAreLeftWithoutOne) {
  TADOCommand command;
  {
    TADOConnection connection;
    command.SetConnection(&connection);
  }
  EXPECT_EQ(command.Connection(), nullptr);
  EXPECT_THROW(command.Execute(), EDataError);
}

}  // namespace
}  // namespace qar
