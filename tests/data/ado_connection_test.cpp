// The connection's contract with the components, a provider and a monitor, on a
// recording driver.
#include "data/ado_connection.h"

#include <gtest/gtest.h>

#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/ado_stored_proc.h"
#include "data/data_set_provider.h"
#include "recording_session.h"
#include "variant_text.h"

namespace qar {
namespace {

using namespace qar::testing;

// Data module "dmVendas"; BeforeConnect sets the connection string; `log` holds what a
// monitor reads from each notification.
class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest() {
    module.SetName("dmVendas");
    connection.ConnectionObject()->SetSessionFactory(RecordingFactory(recording));
    connection.BeforeConnect = TConnectionNotifyEvent::FromFunction([this](TADOConnection& c) {
      ++beforeConnectCount;
      c.SetConnectionString("Provider=MSDAORA;Data Source=ORCL");
    });
    connection.OnConnectComplete = TConnectCompleteEvent::FromFunction(
        [this](TADOConnection& c, const TADOError* error, TEventStatus& status) {
          log.push_back("connect:" + std::to_string(status) + ":" + (error ? error->Description : "-") + ":" + c.OwnerName());
        });
    connection.OnWillExecute = TWillExecuteEvent::FromFunction(
        [this](TADOConnection&, std::string& text, TCursorType&, TADOLockType&, TCommandType& type, TExecuteOptions&,
               TEventStatus& status, TADOCommandObject* command, TCustomADODataSet* recordset) {
          std::string entry = "will:" + std::to_string(type) + ":" + text;
          if (text == "cancel me") status = esCancel;
          if (command) entry += ":object=" + std::to_string(command->CommandType()) + ":" + command->CommandText();
          for (int i = 0; command && i < command->Parameters().Count(); ++i) {
            const TParameter& parameter = command->Parameters().Item(Variant(i));
            entry += ":" + parameter.Name() + "=" + parameter.Value().AsString() + "/" + std::to_string(parameter.Direction());
          }
          log.push_back(recordset ? entry + ":recordset=" + recordset->Name() : entry);
        });
    connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(
        [this](TADOConnection&, std::int64_t, const TADOError* error, TEventStatus& status, TADOCommandObject* command,
               TCustomADODataSet*) {
          log.push_back("complete:" + std::to_string(status) + ":" + (error ? error->Description : "-") + ":" +
                        (command ? command->CommandText() : "no command"));
        });
  }
  template <class T>
  T& Add(const std::string& text = "") {
    T& component = module.CreateComponent<T>();
    component.SetConnection(&connection);
    if constexpr (std::is_same_v<T, TADOCommand>) component.SetCommandText(text);
    return component;
  }

  std::shared_ptr<Recording> recording = std::make_shared<Recording>();
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  int beforeConnectCount = 0;
  std::vector<std::string> log;
};

// A failed connect and statement reach the caller with status 1; a cancelled one does
// not run.
TEST_F(ConnectionTest, AClosedConnectionConnectsOnFirstUseAndFailuresReachTheCallerWithStatusOne) {
  TADOCommand& command = Add<TADOCommand>("DELETE FROM T");
  recording->refuseConnect = "Login failed for user 'sa'.";
  EXPECT_THROW(command.Execute(), EDataError);
  recording->refuseConnect.clear();
  command.Execute();
  command.Execute();
  EXPECT_EQ(beforeConnectCount, 2);
  EXPECT_EQ(recording->connectionStrings, std::vector<std::string>(2, "Provider=MSDAORA;Data Source=ORCL"));
  const std::string statement[] = {"will:1:DELETE FROM T:object=1:DELETE FROM T", "complete:0:-:DELETE FROM T"};
  EXPECT_EQ(log, (std::vector<std::string>{"connect:1:Login failed for user 'sa'.:dmVendas", "connect:0:-:dmVendas",
                                           statement[0], statement[1], statement[0], statement[1]}));
  EXPECT_THROW(connection.Execute("cancel me"), EDataError);
  EXPECT_EQ(recording->calls.size(), 2u);
  recording->failWith = "Invalid object name 'NADA'.";
  EXPECT_THROW(Add<TADOCommand>("SELECT * FROM NADA").Execute(), EDataError);
  EXPECT_EQ(log.back(), "complete:1:Invalid object name 'NADA'.:SELECT * FROM NADA");
}

// What the monitor relies on: a command reports its object, a data set only itself; markers reach
// the server as "?" (SQL Server and Oracle get no dialect); a stored procedure is type 3, its
// command object type 4; commands and data sets are listed in index order.
TEST_F(ConnectionTest, EachComponentReportsItsTextTypeAndObject) {
  TADOCommand& command = Add<TADOCommand>("update PEDIDO set DT = GETDATE() where ID = :ID and X = :X");
  command.Parameters().ParamByName("ID").SetValue(42);
  command.Execute();
  EXPECT_EQ(log.at(1), "will:1:update PEDIDO set DT = GETDATE() where ID = ? and X = ?:object=1:update PEDIDO set "
                       "DT = GETDATE() where ID = ? and X = ?:ID=42/1:X=/1");
  EXPECT_EQ(recording->calls.at(0).text, "update PEDIDO set DT = GETDATE() where ID = ? and X = ?");
  EXPECT_EQ(recording->calls[0].parameters.at(0).value, Variant(42));

  TADOQuery& query = Add<TADOQuery>();
  query.SetName("adqControleTab");
  query.SQL().SetText("SELECT A FROM T\r\n WHERE ID = :ID AND B = :ID");
  query.Parameters().ParamByName("ID").SetValue(7);
  query.Open();
  EXPECT_EQ(log.at(3), "will:1:SELECT A FROM T\r\n WHERE ID = ? AND B = ?\r\n:recordset=adqControleTab");
  EXPECT_EQ(log.at(4), "complete:0:-:no command");
  EXPECT_EQ(recording->calls.at(1).parameters.at(1).value, Variant(7));
  query.Close();
  query.SQL().Add("   AND C = :C");
  query.Open();
  EXPECT_EQ(recording->calls.at(2).parameters.size(), 3u) << "a changed text is parsed again";

  TADOStoredProc& proc = Add<TADOStoredProc>();
  TADOCommand& call = Add<TADOCommand>("SP_TOTAL");  // through a provider, which returns the output values
  call.SetCommandType(cmdStoredProc);
  call.Parameters().CreateParameter("FILIAL", ftString, pdInput, 3, Variant());
  call.Parameters().CreateParameter("TOTAL", ftInteger, pdOutput, 0, Variant());
  TDataSetProvider& provider = module.CreateComponent<TDataSetProvider>();
  provider.SetCommand(&call);
  Variant params = V(R"([["FILIAL", "001"]])"), owner;
  provider.Execute("", params, owner);
  EXPECT_EQ(log.at(7), "will:3:SP_TOTAL:object=4:SP_TOTAL:FILIAL=001/1:TOTAL=/2");
  EXPECT_TRUE(recording->calls.back().procedure);
  EXPECT_EQ(VariantText(params), R"([["TOTAL", 99, 3, 2]])");
  ASSERT_EQ(connection.GetCommandCount(), 2);
  EXPECT_EQ(&connection.GetCommand(1), &call);
  ASSERT_EQ(connection.DataSetCount(), 2);
  EXPECT_EQ(&connection.GetADODataSet(0), &query);
  EXPECT_EQ(&connection.GetADODataSet(1), &proc);
  command.SetConnection(nullptr);
  EXPECT_EQ(&connection.GetCommand(0), &call);
}

// A client's parameter values hold for its own call only and are copies of what it
// sent by reference.
TEST_F(ConnectionTest, AProviderKeepsNoArgumentPastItsCall) {
  TADOQuery& query = Add<TADOQuery>();
  query.SQL().SetText("SELECT A FROM T WHERE ID = :ID");
  query.Parameters().ParamByName("ID").SetValue(1);
  TDataSetProvider& provider = module.CreateComponent<TDataSetProvider>();
  provider.SetDataSet(&query);
  recording->result = {std::make_shared<TResultColumns>(TResultColumns{{"A"}, {ftInteger}}), {{1}, {"x"}}};
  auto value = std::make_unique<Variant>(7);
  Variant reference = Variant::ByRef(*value);
  Variant params = Variant::Array({Variant::Array({"ID", Variant::ByRef(reference)})}), none, owner;
  std::int32_t records = 0;
  EXPECT_EQ(VariantText(provider.GetRecords(1, records, 0, "", params, owner)), R"(["DataPacket 1", [["A", 3]], [[1]]])");
  EXPECT_EQ(records, 1);
  value.reset();
  EXPECT_EQ(VariantText(provider.GetRecords(-1, records, 0, "", none, owner)),
            R"(["DataPacket 1", [["A", 8]], [["1"], ["x"]]])");
  EXPECT_EQ(recording->calls.front().parameters.at(0).value, Variant(7));
  EXPECT_EQ(recording->calls.back().parameters.at(0).value, Variant(1));
  // The driver is asked for the rows wanted only; a field with no row keeps its declared type.
  EXPECT_EQ(recording->calls.front().maxRows, std::optional<std::size_t>(1));
  EXPECT_EQ(recording->calls.back().maxRows, std::nullopt);
  EXPECT_EQ(VariantText(provider.GetRecords(0, records, 0, "", none, owner)), R"(["DataPacket 1", [["A", 3]], []])");
  EXPECT_EQ(recording->calls.back().maxRows, std::optional<std::size_t>(0));
}

// A caller's connection object, lent for a call: statements and transactions go to it;
// the connection's own comes back, and closing that rolls back and closes its data sets.
// A component outliving its connection is left without one.
TEST_F(ConnectionTest, AConnectionObjectCanBeLentAndPutBack) {
  TADOConnection other;
  auto otherRecording = std::make_shared<Recording>();
  other.ConnectionObject()->SetSessionFactory(RecordingFactory(otherRecording));
  other.SetConnectionString("Provider=SQLOLEDB;Data Source=CLIENTE");
  other.Open();
  connection.Open();
  std::shared_ptr<TConnectionObject> saved = connection.ConnectionObject();
  connection.SetConnectionObject(other.ConnectionObject());
  EXPECT_EQ(connection.ConnectionString(), "Provider=SQLOLEDB;Data Source=CLIENTE");
  connection.Execute("SELECT 2");
  EXPECT_EQ(otherRecording->calls.back().text, "SELECT 2");
  connection.BeginTrans();
  EXPECT_TRUE(other.InTransaction());
  connection.SetConnectionObject(saved);
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(connection.ConnectionString(), "Provider=MSDAORA;Data Source=ORCL");
  other.RollbackTrans();
  EXPECT_EQ(otherRecording->calls.back().text, "<rollback>");

  TADOQuery& query = Add<TADOQuery>();
  query.SQL().Add("SELECT 1");
  query.Open();
  connection.BeginTrans();
  connection.Close();
  EXPECT_FALSE(query.Active());
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(recording->calls.back().text, "<rollback>");

  TADOCommand orphan;  // outlives its connection: left without one
  orphan.SetConnection(std::make_unique<TADOConnection>().get());
  EXPECT_EQ(orphan.Connection(), nullptr);
  EXPECT_THROW(orphan.Execute(), EDataError);
}

}  // namespace
}  // namespace qar
