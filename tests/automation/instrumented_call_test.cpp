// The instrumented call step by step, observed in order on a recording data module:
// connection states, log requests, activation events, votes, session statements,
// the method, the report, the rollback, and what is put back afterwards.
#include <gtest/gtest.h>

#include "../diagnostics/diagnostics_sandbox.h"
#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "automation/caller_identity.h"
#include "automation/connection_reference.h"
#include "automation/database_key.h"
#include "automation/transaction_report.h"
#include "com/dispatch_client.h"
#include "data/ado_query.h"

namespace qar::automation {
namespace {

std::vector<std::string> gEvents;
void Event(std::string text) { gEvents.push_back(std::move(text)); }

// A database session that tells the events what reaches it.
class TEventSession : public TDriverSession {
 public:
  std::string DbmsName() override { return "Microsoft SQL Server"; }
  TDriverResult Execute(const std::string& statement, std::vector<TDriverParameter>&) override {
    Event("sql:" + statement.substr(0, statement.find(' ')));
    return {};
  }
  TDriverResult ExecuteProcedure(const std::string&, std::vector<TDriverParameter>&) override { return {}; }
  void BeginTransaction() override { Event("begin"); }
  void Commit() override { Event("commit"); }
  void Rollback() override { Event("rollback"); }
};

std::shared_ptr<TConnectionObject> EventConnectionObject(const std::string& name) {
  auto object = std::make_shared<TConnectionObject>();
  object->SetConnectionString("Provider=SQLOLEDB;Data Source=" + name);
  object->SetSessionFactory([name](const std::string&) {
    Event("connect:" + name);
    return std::make_unique<TEventSession>();
  });
  return object;
}

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

class TdmGravacao : public TMtsDataModule {
 public:
  TdmGravacao() {
    SetName("dmGravacao");
    CreateComponent<TStorage>();
    connection.SetConnectionObject(EventConnectionObject("LOJA"));
    connection.OnWillExecute = TWillExecuteEvent::FromFunction(
        [](TADOConnection&, std::string&, TCursorType&, TADOLockType&, TCommandType&,
           TExecuteOptions&, TEventStatus&, TADOCommandObject*, TCustomADODataSet*) {});
    ownHandler = connection.OnWillExecute;
    query.SetConnection(&connection);
    query.SQL().Add("SELECT 1");
    OnActivate = TNotifyEvent::FromFunction([](TComponent&) { Event("activate"); });
    OnDeactivate = TNotifyEvent::FromFunction([](TComponent&) { Event("deactivate"); });
    last = this;
  }
  void Grava(const std::string& text, std::int32_t number) {
    Event("method(" + text + "," + std::to_string(number) + ")" + State());
  }
  void Transacao() {
    connection.BeginTrans();
    Event("method" + State());
  }
  void Consulta() { query.Open(); }
  void Falha() { throw std::runtime_error("Estoque insuficiente"); }

  std::string State() const {
    const std::string key = CurrentDatabaseKey();
    return std::string("[") + (connection.Connected() ? "open" : "closed") +
           (connection.OnWillExecute.Object() != ownHandler.Object() ? ",monitor" : "") +
           (key.empty() ? "" : ",key=" + key) + "]";
  }

  TADOConnection& connection = CreateComponent<TADOConnection>();
  TADOQuery& query = CreateComponent<TADOQuery>();
  TWillExecuteEvent ownHandler;
  static inline TdmGravacao* last = nullptr;
};

// A transactional module without a connection.
class TdmVazio : public TMtsDataModule {
 public:
  TdmVazio() {
    OnActivate = TNotifyEvent::FromFunction([](TComponent&) { Event("activate"); });
    last = this;
  }
  void Nada() { Event("method"); }
  static inline TdmVazio* last = nullptr;
};

com::TAutoObjectFactory gGravacaoFactory = VCLAutoObjectFactoryOf<TdmGravacao>(
    {TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F901}"), "dmGravacao", "QarTeste.Gravacao", ""},
    com::TTypeInfoBuilder<TdmGravacao>("IdmGravacao", TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F902}"))
        .Method(1, "Grava", &TdmGravacao::Grava)
        .Method(2, "Transacao", &TdmGravacao::Transacao)
        .Method(3, "Consulta", &TdmGravacao::Consulta)
        .Method(4, "Falha", &TdmGravacao::Falha)
        .Build());
com::TAutoObjectFactory gVazioFactory = VCLAutoObjectFactoryOf<TdmVazio>(
    {TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F903}"), "dmVazio", "QarTeste.Vazio", ""},
    com::TTypeInfoBuilder<TdmVazio>("IdmVazio", TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F904}"))
        .Method(9, "Nada", &TdmVazio::Nada)
        .Build());

const std::string kHead = std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          CAIXA     ";
const std::string kBasic = std::string(kBasicIdentityPrefix) + kHead;
const std::string kOperator = std::string(kExtendedIdentityPrefix) + kHead + "MARIA";
// Five characters of key make the 46 of a kind-5 identity.
std::string WithKey(const std::string& key) { return kOperator + "       " + key; }

struct SequenceCase {
  const char* name;
  const char* member;
  std::vector<Variant> args;  // in call order; "@client" stands for the caller's connection
  bool openBefore;
  bool tuning;
  const char* events;
  const char* failure;
};

class InstrumentedCallTest : public diagnostics::testing::DiagnosticsSandbox {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    gEvents.clear();
    TEventContext::failWith = com::kS_OK;
    previousProvider_ = com::SetObjectContextProvider([] { return TComPtr<com::IObjectContext>(new TEventContext); });
    CallEnvironment() = {
        &clock_,
        [](const CallContext&, bool designTime, bool socketServer) {
          Event("log(" + std::to_string(designTime) + "," + std::to_string(socketServer) + ")");
        },
        [this](const CallContext& call) {
          const TransactionReportEntry entry = TransactionReportEntryOf(call);
          Event("report(" + entry.dataModule + "|" + entry.method + "|" + entry.operatorName + ")");
          if (failReport_) throw std::runtime_error("disco cheio");
        }};
    server_ = com::CreateOleObject("QarTeste.Gravacao");
    server_.As<com::IObjectControl>()->Activate();
    module_ = TdmGravacao::last;
  }
  void TearDown() override {
    server_.Reset();
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

  platform::SimulatedClock clock_{platform::EncodeDateTime({2026, 12, 5, 14, 3, 27, 0})};
  com::TObjectContextProvider previousProvider_;
  TComPtr<com::IDispatch> server_;
  TdmGravacao* module_ = nullptr;
  bool failReport_ = false;
};

TEST_F(InstrumentedCallTest, StepsRunInOrderAndEverythingIsPutBack) {
  const SequenceCase cases[] = {
      {"no identity, connection closed: no log, no row", "Grava", {"a", 1}, false, true,
       "activate,vote,method(a,1)[closed,monitor],deactivate", ""},
      {"no identity, connection open: closed first, logged as design time", "Grava", {"a", 1}, true, true,
       "log(1,0),activate,vote,method(a,1)[closed,monitor],deactivate", ""},
      {"basic identity: short row around the method", "Grava", {kBasic, "a", 1}, false, true,
       "activate,connect:LOJA,sql:INSERT,vote,method(a,1)[open,monitor],sql:DELETE,deactivate", ""},
      {"tuning off: no row", "Grava", {kOperator, "a", 1}, false, false,
       "activate,vote,method(a,1)[closed,monitor],deactivate", ""},
      {"open transaction: report, rollback, then the row goes", "Transacao", {kOperator}, false, true,
       "activate,connect:LOJA,sql:INSERT,vote,begin,method[open,monitor],report(dmGravacao|Transacao|MARIA),"
       "rollback,sql:DELETE,deactivate", ""},
      {"no identity: the report names no method", "Transacao", {}, false, true,
       "activate,vote,connect:LOJA,begin,method[open,monitor],report(dmGravacao|M\xE9todo n\xE3o identificado|),"
       "rollback,deactivate", ""},
      {"a data set the method opened is closed", "Consulta", {}, false, false,
       "activate,vote,connect:LOJA,sql:SELECT,deactivate", ""},
      {"the method fails: its error, every clean-up", "Falha", {kBasic}, false, true,
       "activate,connect:LOJA,sql:INSERT,vote,sql:DELETE,deactivate", "Estoque insuficiente"},
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
  TADOConnection client;
  client.SetConnectionObject(EventConnectionObject("CLIENTE"));
  client.Open();
  const std::shared_ptr<TConnectionObject> own = module_->connection.ConnectionObject();
  for (const SequenceCase& c : cases) {
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
    EXPECT_EQ(module_->connection.OnWillExecute.Object(), module_->ownHandler.Object());
    EXPECT_FALSE(module_->connection.InTransaction());
    EXPECT_FALSE(module_->query.Active());
    EXPECT_EQ(CurrentDatabaseKey(), "");
  }
  EXPECT_TRUE(client.Connected());
}

TEST_F(InstrumentedCallTest, FailuresOfTheCallsOwnStepsStillCleanUp) {
  SetInteger("TunningID", 1);
  failReport_ = true;
  EXPECT_EQ(Call(*server_, "Transacao", {kBasic}),
            std::make_pair(std::string("activate,connect:LOJA,sql:INSERT,vote,begin,method[open,monitor],"
                                       "report(dmGravacao|M\xE9todo n\xE3o identificado|),rollback,sql:DELETE"),
                           std::string("disco cheio")));
  failReport_ = false;
  TEventContext::failWith = com::kCONTEXT_E_NOCONTEXT;
  EXPECT_EQ(Call(*server_, "Grava", {WithKey("211  "), "a", 1}).first,
            "log(1,0),activate,connect:LOJA,sql:INSERT,vote,sql:DELETE");
  EXPECT_EQ(module_->connection.OnWillExecute.Object(), module_->ownHandler.Object());
  EXPECT_EQ(CurrentDatabaseKey(), "");
}

TEST_F(InstrumentedCallTest, AModuleWithoutConnectionGetsNoMonitorNoActivationNoRow) {
  SetInteger("TunningID", 1);
  TComPtr<com::IDispatch> server = com::CreateOleObject("QarTeste.Vazio");
  server.As<com::IObjectControl>()->Activate();
  EXPECT_EQ(Call(*server, "Nada", {kOperator}).first, "vote,method");
  EXPECT_EQ(TdmVazio::last->Tag(), 9);
}

}  // namespace
}  // namespace qar::automation
