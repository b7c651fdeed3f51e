// The instrumented call step by step, observed in order on a data module whose
// connection reaches a real SQLite database (embedded, and through ODBC): connects and
// statements (through the module's own handlers, which the monitor chains), log
// requests, activation events, votes, the method, the report, the session rows, and
// what is put back afterwards.
#include <gtest/gtest.h>

#include <cstdio>

#include "../data/session_statements.h"
#include "../diagnostics/diagnostics_sandbox.h"
#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "automation/caller_identity.h"
#include "automation/connection_reference.h"
#include "automation/database_key.h"
#include "automation/transaction_report.h"
#include "com/dispatch_client.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "diagnostics/log_file_name.h"

namespace qar::automation {
namespace {

std::vector<std::string> gEvents;
void Event(std::string text) { gEvents.push_back(std::move(text)); }

class TEventContext : public com::TImplements<com::TComObject, com::IObjectContext> {
 public:
  HResult SetComplete() override { return Vote("vote"); }
  HResult SetAbort() override { return Vote("abort"); }
  HResult Vote(const char* vote) {
    Event(vote);
    return failWith;
  }
  static inline HResult failWith = com::kS_OK;
};

class TStorage : public TComponent {
 public:
  std::string ClassName() const override { return "TAdoSqlStorage"; }
  void Dispatch(TMessage& message) override { Event("storage:" + std::to_string(message.Msg)); }
};

// Its own handlers tell the events of each connect and statement ("[trans]" inside a transaction).
void WatchStatements(TADOConnection& connection) {
  connection.OnConnectComplete =
      TConnectCompleteEvent::FromFunction([](TADOConnection&, const TADOError*, TEventStatus&) { Event("connect"); });
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [](TADOConnection& connection, std::string& text, TCursorType&, TADOLockType&, TCommandType&,
         TExecuteOptions&, TEventStatus&, TADOCommandObject*, TCustomADODataSet*) {
        Event("sql:" + text.substr(0, text.find(' ')) + (connection.InTransaction() ? "[trans]" : ""));
      });
}

class TdmGravacao : public TMtsDataModule {
 public:
  TdmGravacao() {
    SetName("dmGravacao");
    CreateComponent<TStorage>();
    connection.SetConnectionString(connectionString);
    WatchStatements(connection);
    query.SetConnection(&connection);
    query.SQL().Add("SELECT NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL, DSREMOTEOPER,"
                    " DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, NRSERVERDID FROM SQLWEBTUNNING");
    OnActivate = TNotifyEvent::FromFunction([](TComponent&) { Event("activate"); });
    OnDeactivate = TNotifyEvent::FromFunction([](TComponent&) { Event("deactivate"); });
    last = this;
  }
  void Grava(const std::string& text, std::int32_t number) {
    const std::string key = CurrentDatabaseKey();
    Event("method(" + text + "," + std::to_string(number) + ")[" + (connection.Connected() ? "open" : "closed") +
          (connection.OnWillExecute.Object() != nullptr ? ",monitor" : "") + (key.empty() ? "" : ",key=" + key) + "]");
  }
  void Transacao() {
    connection.BeginTrans();
    Event("method");
  }
  // The session rows the method sees, columns joined by "|", its own session number as "spid".
  void Sessao() {
    query.Open();
    std::string rows;
    for (; !query.Eof(); query.Next()) {
      for (int i = 0; i < query.FieldCount(); ++i) {
        const std::string value = query.Fields(i).AsString();
        rows += (i > 0 ? "|" : "") + (value == std::to_string(connection.ConnectionObject()->SessionId()) ? "spid" : value);
      }
    }
    Event("rows:" + rows);
  }
  void Falha() { throw std::runtime_error("Estoque insuficiente"); }

  TADOConnection& connection = CreateComponent<TADOConnection>();
  TADOQuery& query = CreateComponent<TADOQuery>();
  static inline std::string connectionString;
  static inline TdmGravacao* last = nullptr;
};

com::TAutoObjectFactory gGravacaoFactory = VCLAutoObjectFactoryOf<TdmGravacao>(
    {TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F901}"), "dmGravacao", "QarTeste.Gravacao", ""},
    com::TTypeInfoBuilder<TdmGravacao>("IdmGravacao", TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F902}"))
        .Method(1, "Grava", &TdmGravacao::Grava)
        .Method(2, "Transacao", &TdmGravacao::Transacao)
        .Method(3, "Sessao", &TdmGravacao::Sessao)
        .Method(4, "Falha", &TdmGravacao::Falha)
        .Build());

const std::string kHead = std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          CAIXA     ";
const std::string kBasic = std::string(kBasicIdentityPrefix) + kHead;
const std::string kOperator = std::string(kExtendedIdentityPrefix) + kHead + "MARIA";
// Five characters of key make the 46 of a kind-5 identity.
std::string WithKey(const std::string& key) { return kOperator + "       " + key; }

struct DriverCase {
  const char* name;
  const char* prefix;
};

class InstrumentedCallTest : public diagnostics::testing::DiagnosticsSandbox,
                             public ::testing::WithParamInterface<DriverCase> {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    // In the working directory: under Wine the ODBC driver may be the host's, which
    // reads a Windows path as a relative name.
    TdmGravacao::connectionString = GetParam().prefix + file_;
    std::remove(file_.c_str());
    client.SetConnectionString(TdmGravacao::connectionString);
    try {
      client.Execute(testing::kCreateSessionTable);
    } catch (const EDataError& error) {
      if (error.SqlState() == "IM002" || error.SqlState() == "IM003") GTEST_SKIP() << error.what();
      throw;
    }
    TEventContext::failWith = com::kS_OK;
    previousProvider_ = com::SetObjectContextProvider([] { return TComPtr<com::IObjectContext>(new TEventContext); });
    CallEnvironment() = {
        &clock_,
        [](const CallContext&, bool designTime, bool socketServer) {
          Event("log(" + std::to_string(designTime) + "," + std::to_string(socketServer) + ")");
        },
        [this](const CallContext& call) {
          const TransactionReportEntry entry = TransactionReportEntryOf(call);
          Event("report(" + entry.dataModule + "|" + entry.method + "|" + entry.operatorName + ")" +
                (call.Connection->InTransaction() ? "[trans]" : ""));
          if (failReport_) throw std::runtime_error("disco cheio");
        }};
    server_ = com::CreateOleObject("QarTeste.Gravacao");
    server_.As<com::IObjectControl>()->Activate();
    module_ = TdmGravacao::last;
  }
  void TearDown() override {
    server_.Reset();
    client.Close();
    std::remove(file_.c_str());
    CallEnvironment() = DefaultCallEnvironment();
    SetServerConnectionList(std::nullopt);
    com::SetObjectContextProvider(std::move(previousProvider_));
    DiagnosticsSandbox::TearDown();
  }

  // The events of one call and its failure's description ("" when it succeeded).
  std::pair<std::string, std::string> Call(com::IDispatch& server, const char* member, std::vector<Variant> args) {
    gEvents.clear();
    std::string failure;
    try {
      com::CallByName(server, member, std::move(args));
    } catch (const com::EOleError& error) {
      failure = error.what();
    }
    std::string events;
    for (const std::string& event : gEvents) events += (events.empty() ? "" : ",") + event;
    return {events, failure};
  }

  const std::string file_ = "qar_call_test_" + std::to_string(platform::CurrentProcessId()) + ".db";
  TADOConnection client;  // also the caller's own connection in the two-argument form
  platform::SimulatedClock clock_{platform::EncodeDateTime({2026, 12, 5, 14, 3, 27, 0})};
  com::TObjectContextProvider previousProvider_;
  TComPtr<com::IDispatch> server_;
  TdmGravacao* module_ = nullptr;
  bool failReport_ = false;
};

TEST_P(InstrumentedCallTest, StepsRunInOrderAndEverythingIsPutBack) {
  const std::string module = diagnostics::ModuleShortName();
  const std::string notIdentified = "M\xE9todo n\xE3o identificado";
  const struct {
    const char* name;
    const char* member;
    std::vector<Variant> args;  // in call order; "@client" stands for the caller's connection
    bool openBefore;
    bool tuning;
    std::string events;
    const char* failure;
  } cases[] = {
      {"no identity, connection closed: no log, no row", "Grava", {"a", 1}, false, true,
       "activate,vote,method(a,1)[closed,monitor],deactivate", ""},
      {"no identity, connection open: closed first, logged as design time", "Grava", {"a", 1}, true, true,
       "log(1,0),activate,vote,method(a,1)[closed,monitor],deactivate", ""},
      {"extended identity: the long row while the method runs", "Sessao", {kOperator}, false, true,
       "activate,connect,sql:INSERT,vote,sql:SELECT,rows:spid|spid|192.168.0.10|PDV01          |CAIXA     |MARIA|"
       "dmGravacao|" + module + "|Sessao|,sql:DELETE,deactivate", ""},
      {"basic identity: the short row", "Sessao", {kBasic}, false, true,
       "activate,connect,sql:INSERT,vote,sql:SELECT,rows:spid||192.168.0.10|PDV01          |CAIXA     ||"
       "dmGravacao|" + module + "||3,sql:DELETE,deactivate", ""},
      {"tuning off: no row", "Sessao", {kOperator}, false, false,
       "activate,vote,connect,sql:SELECT,rows:,deactivate", ""},
      {"open transaction: reported, rolled back, then the row goes", "Transacao", {kOperator}, false, true,
       "activate,connect,sql:INSERT,vote,method,report(dmGravacao|Transacao|MARIA)[trans],sql:DELETE,deactivate", ""},
      {"no identity: the report names no method", "Transacao", {}, false, true,
       "activate,vote,connect,method,report(dmGravacao|" + notIdentified + "|)[trans],deactivate", ""},
      {"the method fails: its error, every clean-up", "Falha", {kBasic}, false, true,
       "activate,connect,sql:INSERT,vote,sql:DELETE,deactivate", "Estoque insuficiente"},
      {"no row was left behind", "Sessao", {}, false, true, "activate,vote,connect,sql:SELECT,rows:,deactivate", ""},
      {"the caller's connection in place of the module's", "Grava", {Variant("@client"), kBasic, "a", 1}, true, true,
       "log(1,1),activate,sql:INSERT,vote,method(a,1)[open,monitor],sql:DELETE,deactivate", ""},
      {"a number as connection argument ends the call at once", "Grava", {5, kBasic, "a", 1}, false, true, "",
       "The argument before the caller identity is not a connection object (0, Empty or Null for none)"},
      {"key 211 with blanks", "Grava", {WithKey(" 211 "), "a", 1}, false, false,
       "activate,vote,method(a,1)[closed,monitor,key=211],deactivate", ""},
      {"key 212, same connection string as 211", "Grava", {WithKey("212  "), "a", 1}, false, false,
       "activate,vote,method(a,1)[closed,monitor,key=212],deactivate", ""},
      {"key 213, another database: storage notified once", "Grava", {WithKey("213  "), "a", 1}, false, false,
       "storage:1025,activate,vote,method(a,1)[closed,monitor,key=213],deactivate", ""},
  };
  SetServerConnectionList(std::vector<std::string>{"211=Provider=SQLOLEDB;Data Source=LOJA",
                                                   "212=Provider=SQLOLEDB;Data Source=LOJA",
                                                   "213=Provider=SQLOLEDB;Data Source=OUTRA"});
  client.Open();
  const std::shared_ptr<TConnectionObject> own = module_->connection.ConnectionObject();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetInteger("TunningID", c.tuning ? 1 : 0);
    diagnostics::ResetMonitorSettingsForTest();
    module_->connection.SetConnected(c.openBefore);  // a call leaves it as the method did
    std::vector<Variant> args = c.args;
    if (!args.empty() && args[0] == Variant("@client")) args[0] = ConnectionArgument(client);
    module_->SetTag(-1);
    const auto [events, failure] = Call(*server_, c.member, args);
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(failure, c.failure);
    const std::string member = c.member;
    com::DispId id = -1;
    if (std::string(c.failure).rfind("The argument", 0) != 0) server_->GetIDsOfNames(TGUID{}, &member, 1, 0, &id);
    EXPECT_EQ(module_->Tag(), id);
    EXPECT_EQ(module_->connection.ConnectionObject(), own);
    EXPECT_TRUE(module_->connection.OnWillExecute && !module_->connection.OnWillExecute.Object());  // its own again
    EXPECT_FALSE(module_->connection.InTransaction());
    EXPECT_FALSE(module_->query.Active());
    EXPECT_EQ(CurrentDatabaseKey(), "");
  }
  EXPECT_TRUE(client.Connected());
}

TEST_P(InstrumentedCallTest, FailuresOfTheCallsOwnStepsStillCleanUp) {
  SetInteger("TunningID", 1);
  failReport_ = true;
  EXPECT_EQ(Call(*server_, "Transacao", {kBasic}),
            std::make_pair(std::string("activate,connect,sql:INSERT,vote,method,report(dmGravacao|M\xE9todo n\xE3o "
                                       "identificado|)[trans],sql:DELETE"),
                           std::string("disco cheio")));
  failReport_ = false;
  TEventContext::failWith = com::kCONTEXT_E_NOCONTEXT;
  EXPECT_EQ(Call(*server_, "Grava", {WithKey("211  "), "a", 1}).first,
            "log(1,0),activate,connect,sql:INSERT,vote,sql:DELETE");
  EXPECT_TRUE(module_->connection.OnWillExecute && !module_->connection.OnWillExecute.Object());
  EXPECT_EQ(CurrentDatabaseKey(), "");
}

TEST_P(InstrumentedCallTest, AModuleWithoutConnectionGetsNoMonitorNoActivationNoRow) {
  SetInteger("TunningID", 1);
  const std::unique_ptr<TComponent> detached = module_->RemoveComponent(module_->connection);
  EXPECT_EQ(Call(*server_, "Grava", {kOperator, "a", 1}).first, "vote,method(a,1)[closed]");
  EXPECT_EQ(module_->Tag(), 1);
}

INSTANTIATE_TEST_SUITE_P(Drivers, InstrumentedCallTest,
                         ::testing::Values(DriverCase{"embedded", "Provider=SQLite;Data Source="},
                                           DriverCase{"odbc", "Driver=SQLite3;Database="}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qar::automation
