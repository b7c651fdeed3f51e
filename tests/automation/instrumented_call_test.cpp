// Calls on a transactional data module over a real SQLite database (embedded and through
// ODBC): the instrumented call step by step and what it puts back, its providers serving
// a table as a script calls them, and its votes after each operation.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "scratch_database.h"
#include "../data/session_statements.h"
#include "../diagnostics/diagnostics_sandbox.h"
#include "automation/MtsRdm.h"
#include "automation/VCLCom.h"
#include "automation/caller_identity.h"
#include "automation/connection_reference.h"
#include "automation/database_key.h"
#include "automation/transaction_report.h"
#include "com/dispatch_client.h"
#include "com/error_info.h"
#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "data/data_set_provider.h"
#include "diagnostics/log_captions.h"
#include "diagnostics/log_file_name.h"
#include "mts_test_support.h"
#include "variant_text.h"

namespace qar::automation {
namespace {

using testing::Event;
using testing::gEvents;

class TStorage : public TComponent {
 public:
  std::string ClassName() const override { return "TAdoSqlStorage"; }
  void Dispatch(TMessage& message) override { Event("storage:" + std::to_string(message.Msg)); }
};

// Answers "ok" to every operation, or fails each with "falhou"; ApplyUpdates
// reports the error count it is told.
class TScriptedProvider : public TCustomProvider {
 public:
  Variant GetRecords(std::int32_t, std::int32_t&, std::int32_t, const std::string&, Variant&, Variant&) override {
    return Answer();
  }
  Variant ApplyUpdates(const Variant&, std::int32_t, std::int32_t& errorCount, Variant&) override {
    errorCount = reportedErrors;
    return Answer();
  }
  Variant GetParams(Variant&) override { return Answer(); }
  Variant RowRequest(const Variant&, std::int32_t, Variant&) override { return Answer(); }
  void Execute(const std::string&, Variant&, Variant&) override { Answer(); }
  Variant DataRequest(const Variant&) override { return Answer(); }
  static Variant Answer() {
    if (failCode) throw com::EOleError(*failCode, "codigo");
    if (fail) throw std::runtime_error("falhou");
    return "ok";
  }

  static inline bool fail = false;
  static inline std::optional<HResult> failCode;
  static inline std::int32_t reportedErrors = 0;
};

class TdmGravacao : public TMtsDataModule {
 public:
  TdmGravacao() {
    SetName("dmGravacao");
    CreateComponent<TStorage>();
    connection.SetConnectionString(connectionString);
    // Its own handlers tell each connect and statement ("[trans]" inside a transaction).
    connection.OnConnectComplete = TConnectCompleteEvent::FromFunction(
        [](TADOConnection&, const TADOError*, TEventStatus&) { Event("connect"); });
    connection.OnWillExecute = TWillExecuteEvent::FromFunction(
        [](TADOConnection& c, std::string& text, TCursorType&, TADOLockType&, TCommandType&, TExecuteOptions&,
           TEventStatus&, TADOCommandObject*, TCustomADODataSet*) {
          Event("sql:" + text.substr(0, text.find(' ')) + (c.InTransaction() ? "[trans]" : ""));
        });
    query.SetConnection(&connection);
    query.SQL().Add("SELECT NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL, DSREMOTEOPER,"
                    " DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, NRSERVERDID FROM SQLWEBTUNNING");
    produtos.SetConnection(&connection);
    produtos.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO WHERE PRECO >= :MINIMO ORDER BY ID");
    dspProdutos.SetName("dspProdutos");
    dspProdutos.SetDataSet(&produtos);
    dspProdutos.SetTableName("PRODUTO");
    dspProdutos.SetKeyFields({"ID"});
    RegisterProvider(dspProdutos);
    reajuste.SetConnection(&connection);
    reajuste.SetCommandText("UPDATE PRODUTO SET PRECO = PRECO * :FATOR");
    dspReajuste.SetName("dspReajuste");
    dspReajuste.SetCommand(&reajuste);
    RegisterProvider(dspReajuste);
    dsp.SetName("dsp");
    RegisterProvider(dsp);
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
  // Calls its own object inside its own transaction, then commits.
  void Aninhada() {
    connection.BeginTrans();
    connection.Execute("INSERT INTO PRODUTO VALUES (4, 'Erva', 1)");
    com::CallByName(*ComObject().As<com::IDispatch>(), "Grava", {"n", 2});
    connection.CommitTrans();
    Event("committed");
  }

  TADOConnection& connection = CreateComponent<TADOConnection>();
  TADOQuery& query = CreateComponent<TADOQuery>();
  TADOQuery& produtos = CreateComponent<TADOQuery>();
  TADOCommand& reajuste = CreateComponent<TADOCommand>();
  TDataSetProvider& dspProdutos = CreateComponent<TDataSetProvider>();
  TDataSetProvider& dspReajuste = CreateComponent<TDataSetProvider>();
  TScriptedProvider& dsp = CreateComponent<TScriptedProvider>();
  static inline std::string connectionString;
  static inline TdmGravacao* last = nullptr;
};

TVCLAutoObjectFactory gGravacaoFactory = VCLAutoObjectFactoryOf<TdmGravacao>(
    {TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F901}"), "dmGravacao", "QarTeste.Gravacao", ""},
    com::AppServerTypeInfo<TdmGravacao>("IdmGravacao", TGUID::Parse("{2B3C4D5E-6F70-4182-93A4-B5C6D7E8F902}"))
        .Method(1, "Grava", &TdmGravacao::Grava)
        .Method(2, "Transacao", &TdmGravacao::Transacao)
        .Method(3, "Sessao", &TdmGravacao::Sessao)
        .Method(4, "Falha", &TdmGravacao::Falha)
        .Method(5, "Aninhada", &TdmGravacao::Aninhada)
        .Build());

const std::string kHead = std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          CAIXA     ";
const std::string kBasic = std::string(kBasicIdentityPrefix) + kHead;
const std::string kOperator = std::string(kExtendedIdentityPrefix) + kHead + "MARIA";
// Five characters of key make the 46 of a kind-5 identity.
std::string WithKey(const std::string& key) { return kOperator + "       " + key; }
const char kInitialRows[] = "1 Cafe 12.5;2 Cha 4;3 Mate 7.25;";

struct DriverCase {
  const char* name;
  const char* prefix;
};

class SqliteModuleTest : public diagnostics::testing::DiagnosticsSandbox,
                         public ::testing::WithParamInterface<DriverCase> {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    Store("TmpFileDir=" + LogDir());  // the error log of a failed statement stays in the sandbox
    TdmGravacao::connectionString = GetParam().prefix + database_.DriverFile();
    client.SetConnectionString(TdmGravacao::connectionString);
    try {
      client.Execute(::qar::testing::kCreateSessionTable);
    } catch (const EDataError& error) {
      if (error.SqlState() == "IM002" || error.SqlState() == "IM003") GTEST_SKIP() << error.what();
      throw;
    }
    client.Execute("CREATE TABLE PRODUTO (ID INTEGER PRIMARY KEY, NOME VARCHAR(30) NOT NULL UNIQUE, PRECO FLOAT)");
    client.Execute("INSERT INTO PRODUTO VALUES (1, 'Cafe', 12.5), (2, 'Cha', 4), (3, 'Mate', 7.25)");
    gGravacaoFactory.Environment().call = {
        &clock_,
        [](const CallContext&, bool designTime, bool socketServer) {
          Event("log(" + std::to_string(designTime) + "," + std::to_string(socketServer) + ")");
        },
        [this](const CallContext& call) {
          const TransactionReportEntry entry = TransactionReportEntryOf(call);
          Event("report(" + entry.dataModule + "|" + entry.method + "|" + entry.operatorName + ")" +
                (call.Connection->InTransaction() ? "[trans]" : ""));
          if (failReport_) throw std::runtime_error("disco cheio");
        },
        [](const CallContext&, std::string_view failure) { Event("unregistered:" + std::string(failure)); }};
    server_ = com::CreateOleObject("QarTeste.Gravacao");
    server_.As<com::IObjectControl>()->Activate();
    module_ = TdmGravacao::last;
  }
  void TearDown() override {
    server_.Reset();
    client.Close();
    gGravacaoFactory.Environment() = DefaultAutomationEnvironment();
    SetServerConnectionList(std::nullopt);
    DiagnosticsSandbox::TearDown();
  }

  // The events of one call and its failure's description ("" when it succeeded); its result in result_.
  std::pair<std::string, std::string> Call(const std::string& member, std::vector<Variant> args) {
    gEvents.clear();
    std::string failure;
    result_ = Variant();
    try {
      result_ = com::CallByName(*server_, member, std::move(args));
    } catch (const com::EOleError& error) {
      failure = error.what();
    }
    return {gEvents, failure};
  }
  // A provider operation called as a script calls it: each argument of `argsText` in a
  // variable, so by reference; afterwards args_ holds what it wrote back. Its votes.
  std::string Operation(const std::string& member, const std::string& argsText) {
    args_ = V(argsText).ArrayItems();
    std::vector<Variant> refs;
    for (Variant& arg : args_) refs.push_back(Variant::ByRef(arg));
    std::string votes, all;
    std::tie(all, failure_) = Call(member, std::move(refs));
    std::istringstream events(all);
    for (std::string event; std::getline(events, event, ',');)
      if (event == "complete" || event == "abort") votes += (votes.empty() ? "" : ",") + event;
    return votes;
  }
  // The table as "ID NOME PRECO;" per row.
  std::string Table() {
    TADOQuery query;
    query.SetConnection(&client);
    query.SQL().Add("SELECT ID, NOME, PRECO FROM PRODUTO ORDER BY ID");
    query.Open();
    std::string text;
    for (; !query.Eof(); query.Next())
      text += query.Fields(0).AsString() + " " + query.Fields(1).AsString() + " " + query.Fields(2).AsString() + ";";
    return text;
  }

  const ::qar::testing::TScratchDatabase database_{"call.db"};
  TADOConnection client;  // also the caller's own connection in the two-argument form
  platform::SimulatedClock clock_{platform::EncodeDateTime({2026, 12, 5, 14, 3, 27, 0})};
  testing::TInstalledObjectContext installed_{gGravacaoFactory};
  TComPtr<com::IDispatch> server_;
  TdmGravacao* module_ = nullptr;
  bool failReport_ = false;
  std::vector<Variant> args_;
  std::string failure_;
  Variant result_;
};

TEST_P(SqliteModuleTest, StepsRunInOrderAndEverythingIsPutBack) {
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
      {"no identity, connection open: closed first, logged as design time", "Grava", {"a", 1}, true, true,
       "log(1,0),activate,complete,method(a,1)[closed,monitor],deactivate", ""},
      {"extended identity: the long row while the method runs", "Sessao", {kOperator}, false, true,
       "activate,connect,sql:INSERT,complete,sql:SELECT,rows:spid|spid|192.168.0.10|PDV01          |CAIXA     |MARIA|"
       "dmGravacao|" + module + "|Sessao|,sql:DELETE,deactivate", ""},
      {"basic identity: the short row", "Sessao", {kBasic}, false, true,
       "activate,connect,sql:INSERT,complete,sql:SELECT,rows:spid||192.168.0.10|PDV01          |CAIXA     ||"
       "dmGravacao|" + module + "||3,sql:DELETE,deactivate", ""},
      {"tuning off: no row", "Sessao", {kOperator}, false, false,
       "activate,complete,connect,sql:SELECT,rows:,deactivate", ""},
      {"open transaction: reported, rolled back, then the row goes", "Transacao", {kOperator}, false, true,
       "activate,connect,sql:INSERT,complete,method,report(dmGravacao|Transacao|MARIA)[trans],sql:DELETE,deactivate", ""},
      {"a line break in the caller's texts prints as '?'", "Transacao", {kOperator.substr(0, 34) + "\r\nA"}, false,
       false, "activate,complete,connect,method,report(dmGravacao|Transacao|MA??A)[trans],deactivate", ""},
      {"no identity: the report names no method", "Transacao", {}, false, true,
       "activate,complete,connect,method,report(dmGravacao|" + notIdentified + "|)[trans],deactivate", ""},
      {"the method fails: its error, every clean-up", "Falha", {kBasic}, false, true,
       "activate,connect,sql:INSERT,complete,sql:DELETE,deactivate", "Estoque insuficiente"},
      {"the caller's connection in place of the module's", "Grava", {Variant("@client"), kBasic, "a", 1}, true, true,
       "log(1,1),activate,sql:INSERT,complete,method(a,1)[open,monitor],sql:DELETE,deactivate", ""},
      {"a number as connection argument ends the call at once", "Grava", {5, kBasic, "a", 1}, false, true, "",
       "The argument before the caller identity is not a connection object (0, Empty or Null for none)"},
      {"key 211 with blanks", "Grava", {WithKey(" 211 "), "a", 1}, false, false,
       "activate,complete,method(a,1)[closed,monitor,key=211],deactivate", ""},
      {"key 212, same connection string as 211", "Grava", {WithKey("212  "), "a", 1}, false, false,
       "activate,complete,method(a,1)[closed,monitor,key=212],deactivate", ""},
      {"key 213, another database: storage notified once", "Grava", {WithKey("213  "), "a", 1}, false, false,
       "storage:1025,activate,complete,method(a,1)[closed,monitor,key=213],deactivate", ""},
  };
  SetServerConnectionList(std::vector<std::string>{"211=Provider=SQLOLEDB;Data Source=LOJA",
                                                   "212=Provider=SQLOLEDB;Data Source=LOJA",
                                                   "213=Provider=SQLOLEDB;Data Source=OUTRA"});
  client.Open();
  const std::shared_ptr<TConnectionObject> own = module_->connection.ConnectionObject();
  const std::map<std::string, int> ids = {{"Grava", 1}, {"Transacao", 2}, {"Sessao", 3}, {"Falha", 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetInteger("TunningID", c.tuning ? 1 : 0);
    diagnostics::ResetMonitorSettingsForTest();
    module_->connection.SetConnected(c.openBefore);  // a call leaves it as the method did
    std::vector<Variant> args = c.args;
    if (!args.empty() && args[0] == Variant("@client")) args[0] = ConnectionArgument(client);
    module_->SetTag(-1);
    EXPECT_EQ(Call(c.member, args), std::make_pair(c.events, std::string(c.failure)));
    EXPECT_EQ(module_->Tag(), c.events.empty() ? -1 : ids.at(c.member));
    EXPECT_EQ(module_->connection.ConnectionObject(), own);
    EXPECT_TRUE(module_->connection.OnWillExecute && !module_->connection.OnWillExecute.Object());  // its own again
    EXPECT_FALSE(module_->connection.InTransaction());
    EXPECT_FALSE(module_->query.Active());
    EXPECT_EQ(CurrentDatabaseKey(), "");
  }
  EXPECT_TRUE(client.Connected());
}

// A failed report still rolls back and removes the row; a failed vote skips the method
// but not the clean-ups.
TEST_P(SqliteModuleTest, FailuresOfTheCallsOwnStepsStillCleanUp) {
  SetInteger("TunningID", 1);
  failReport_ = true;
  EXPECT_EQ(Call("Transacao", {kBasic}),
            std::make_pair(std::string("activate,connect,sql:INSERT,complete,method,report(dmGravacao|M\xE9todo n\xE3o "
                                       "identificado|)[trans],sql:DELETE"),
                           std::string("disco cheio")));
  EXPECT_FALSE(module_->connection.InTransaction());
  failReport_ = false;
  installed_.context->failWith = com::kCONTEXT_E_NOCONTEXT;
  EXPECT_EQ(Call("Grava", {WithKey("211  "), "a", 1}).first, "log(1,0),activate,connect,sql:INSERT,complete,sql:DELETE");
  EXPECT_TRUE(module_->connection.OnWillExecute && !module_->connection.OnWillExecute.Object());
  EXPECT_EQ(CurrentDatabaseKey(), "");
}

// A method that calls its own object: the inner call runs on the outer one's
// connection, transaction and key, without a sequence of its own.
TEST_P(SqliteModuleTest, ANestedCallKeepsTheOuterCallsTransactionAndSession) {
  SetInteger("TunningID", 1);
  SetServerConnectionList(std::vector<std::string>{"211=" + TdmGravacao::connectionString});
  EXPECT_EQ(Call("Aninhada", {WithKey("211  ")}),
            std::make_pair(std::string("activate,connect,sql:INSERT,complete,sql:INSERT[trans],"
                                       "method(n,2)[open,monitor,key=211],committed,sql:DELETE,deactivate"),
                           std::string()));
  EXPECT_EQ(Table(), std::string(kInitialRows) + "4 Erva 1;");
}

// The connection string set in BeforeConnect chooses the statements of the first call
// already; a session that cannot be registered is told once per object.
TEST_P(SqliteModuleTest, RegistrationConnectsFirstAndToldWhenItCannot) {
  SetInteger("TunningID", 1);
  static std::string nextString;
  nextString = TdmGravacao::connectionString;
  module_->connection.Close();
  module_->connection.SetConnectionString("");
  module_->connection.BeforeConnect =
      TConnectionNotifyEvent::FromFunction([](TADOConnection& c) { c.SetConnectionString(nextString); });
  EXPECT_NE(Call("Sessao", {kOperator}).first.find("rows:spid|spid|"), std::string::npos);
  nextString = "Provider=Nenhum";
  for (const char* told : {"unregistered:", ""}) {
    const std::string events = Call("Grava", {kOperator, "a", 1}).first;
    EXPECT_EQ(events.find("unregistered:") != std::string::npos, *told != 0) << events;
  }
}

// A transaction that OnActivate began is rolled back when the vote then fails.
TEST_P(SqliteModuleTest, AFailedVoteRollsBackWhatOnActivateBegan) {
  module_->OnActivate = TNotifyEvent::FromFunction([this](TComponent&) { module_->connection.BeginTrans(); });
  installed_.context->failWith = com::kCONTEXT_E_NOCONTEXT;
  EXPECT_EQ(Call("Grava", {"a", 1}).second, com::ResultText(com::kCONTEXT_E_NOCONTEXT));
  EXPECT_FALSE(module_->connection.InTransaction());
}

// An error that carries a code that is no failure still fails, with E_FAIL and its
// description, through IAppServer and through the dispatch interface.
TEST_P(SqliteModuleTest, AnErrorWithASuccessCodeIsNeverASuccess) {
  for (const auto& [code, expected] : {std::pair{com::kS_OK, com::kE_FAIL}, std::pair{com::kS_FALSE, com::kE_FAIL},
                                       std::pair{com::kDISP_E_OVERFLOW, com::kDISP_E_OVERFLOW}}) {
    SCOPED_TRACE(code);
    TScriptedProvider::failCode = code;
    Variant owner;
    EXPECT_EQ(module_->AS_GetParams("dsp", owner, result_), expected);
    EXPECT_EQ(com::GetErrorInfo()->Description, "codigo");
    com::TDispArgs args{"dsp", Variant()};
    com::TExcepInfo excepInfo;
    EXPECT_EQ(server_->Invoke(com::kDispIdAS_GetParams, TGUID{}, 0, com::kDispatchMethod, args.Params(), &result_,
                              &excepInfo, nullptr),
              com::kDISP_E_EXCEPTION);
    EXPECT_EQ(excepInfo.SCode, expected);
    EXPECT_EQ(excepInfo.Description, "codigo");
  }
  TScriptedProvider::failCode.reset();
}

// Each call closes the module's connection and its method connects again, which the monitor logs
// every time, although the calls run on one kept session (the number rows carry).
TEST_P(SqliteModuleTest, TheMonitorLogsOneConnectionEntryPerCallOnAKeptSession) {
  SetInteger("TunningID", 1);
  MonitorEverybody(1);
  std::set<std::int64_t> sessions;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Call("Sessao", {kOperator}).second, "");
    sessions.insert(module_->connection.ConnectionObject()->SessionId());
  }
  std::string logs;
  for (const auto& entry : std::filesystem::directory_iterator(platform::ToNativePath(LogDir())))
    logs += ReadFile(entry.path().string());
  std::size_t entries = 0;
  for (std::size_t at = logs.find(diagnostics::captions::kConnectionBanner); at != std::string::npos;
       at = logs.find(diagnostics::captions::kConnectionBanner, at + 1))
    ++entries;
  EXPECT_EQ(entries, 3u);
  EXPECT_EQ(sessions.size(), 1u);
}

TEST_P(SqliteModuleTest, AModuleWithoutConnectionGetsNoMonitorNoActivationNoRow) {
  SetInteger("TunningID", 1);
  const std::unique_ptr<TComponent> detached = module_->RemoveComponent(module_->connection);
  EXPECT_EQ(Call("Grava", {kOperator, "a", 1}).first, "complete,method(a,1)[closed]");
  EXPECT_EQ(Call("Grava", {"b", 2}).first, "complete,method(b,2)[closed]");
  EXPECT_EQ(module_->Tag(), 1);
}

TEST_P(SqliteModuleTest, ProvidersReadExecuteAndRereadARowByKey) {
  for (const auto& [count, rows] : {std::pair{"-1", R"([[1, "Cafe", 12.5], [3, "Mate", 7.25]])"},
                                    std::pair{"1", R"([[1, "Cafe", 12.5]])"}, std::pair{"0", "[]"}}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(Operation("AS_GetRecords", std::string(R"(["dspProdutos", )") + count +
                                             R"(, Empty, 0, "", [["MINIMO", 5S]], Empty])"),
              "complete,complete");  // the call's vote before the operation, the operation's after it
    EXPECT_EQ(VariantText(result_), std::string(R"(["DataPacket 1", [["ID", 3], ["NOME", 8], ["PRECO", 5]], )") + rows + "]");
    EXPECT_EQ(args_[2], Variant(static_cast<std::int32_t>(V(rows).ArrayItems().size())));
  }
  Operation("AS_GetParams", R"(["dspReajuste", Empty])");
  EXPECT_EQ(VariantText(result_), R"([["FATOR", Empty, 0, 1]])");
  Operation("AS_Execute", R"(["dspReajuste", "", [["FATOR", 2, 0, 1]], Empty])");
  EXPECT_EQ(failure_, "");
  EXPECT_EQ(VariantText(args_[2]), "[]");  // no output parameters
  EXPECT_EQ(Table(), "1 Cafe 25;2 Cha 8;3 Mate 14.5;");
  Operation("AS_RowRequest", R"(["dspProdutos", ["DataPacket 1", [["ID", 3], ["NOME", 8]], [[3, Null]]], 0, Empty])");
  EXPECT_EQ(VariantText(result_), R"(["DataPacket 1", [["ID", 3], ["NOME", 8]], [[3, "Mate"]]])");
}

TEST_P(SqliteModuleTest, DeltasAppliedAndARowThatFailsKeepsNothingUnderMaximum0AndTheOthersUnderMaximum1) {
  // Renaming Cafe to Mate breaks NOME's uniqueness; there is no product 9.
  const char* breaksUnique = R"(["Delta 1", [["ID", 3], ["NOME", 8]],
                                  [[1, [4, "Erva"]], [2, [Empty, "Mate"], [1, Empty]], [3, [2, Empty]]]])";
  const char* findsNoRow = R"(["Delta 1", [["ID", 3], ["NOME", 8]], [[1, [4, "Erva"]], [3, [9, Empty]]]])";
  const struct {
    const char* delta;
    const char* maxErrors;
    const char* error;  // in the message of failed row 1, if any
    const char* table;
    const char* vote;
  } cases[] = {
      {R"(["Delta 1", [["ID", 3], ["NOME", 8], ["PRECO", 5]],
           [[1, [4, "Erva", Empty]], [2, [Empty, "Cafe forte", 13S], [1, "Cafe", 12.5]], [3, [2, Empty, Empty]]]])",
       "0", nullptr, "1 Cafe forte 13;3 Mate 7.25;4 Erva ;", "complete"},
      {breaksUnique, "0", "UNIQUE constraint failed: PRODUTO.NOME", kInitialRows, "abort"},
      {breaksUnique, "1", "UNIQUE constraint failed: PRODUTO.NOME", "1 Cafe 12.5;3 Mate 7.25;4 Erva ;", "complete"},
      {findsNoRow, "0", "The row of PRODUTO with ID = 9 was not found: another user changed or deleted it",
       kInitialRows, "abort"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(Operation("AS_ApplyUpdates", std::string(R"(["dspProdutos", )") + c.delta + ", " + c.maxErrors +
                                               ", Empty, Empty]"),
              std::string("complete,") + c.vote);
    ASSERT_EQ(result_.ArrayItems().size(), c.error ? 1u : 0u) << failure_;
    if (c.error) {
      EXPECT_EQ(result_.ArrayItems()[0].ArrayItems()[0], Variant(1));
      // ODBC drivers may add their own words around the server's message.
      EXPECT_NE(result_.ArrayItems()[0].ArrayItems()[1].AsString().find(c.error), std::string::npos) << VariantText(result_);
    }
    EXPECT_EQ(args_[3], Variant(c.error ? 1 : 0));
    EXPECT_EQ(Table(), c.table);
    EXPECT_FALSE(module_->connection.InTransaction());
    client.Execute("DELETE FROM PRODUTO WHERE ID > 3");
    client.Execute("INSERT OR REPLACE INTO PRODUTO VALUES (1, 'Cafe', 12.5), (2, 'Cha', 4)");
  }
}

TEST_P(SqliteModuleTest, BadInputIsRefusedWithItsDescriptionAndChangesNothing) {
  const std::string apply = "AS_ApplyUpdates";
  const struct {
    std::string member;
    const char* args;
    const char* failure;
  } cases[] = {
      {apply, R"(["dspNada", ["Delta 1", [["ID", 3]], [[1, [5]]]], 9, Empty, Empty])", "Provider not found: dspNada"},
      {apply, R"(["dspProdutos", ["DataPacket 1", [["ID", 3]], []], 9, Empty, Empty])",
       R"(Invalid delta: it does not start with "Delta 1")"},
      {apply, R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [1, ["6"]]]], 9, Empty, Empty])",
       "Invalid delta: row 1, field ID: Text where Integer is expected"},
      {apply, R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [1, [2147483648L]]]], 9, Empty, Empty])",
       "Invalid delta: row 1, field ID: overflow, the value does not fit Integer"},
      {apply, R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [4, [6]]]], 9, Empty, Empty])",
       "Invalid delta: row 1 has no state 4"},
      {apply, R"(["dspProdutos", ["Delta 1", [["ID", 3]], [[1, [5]], [3, [Null]]]], 9, Empty, Empty])",
       "Provider dspProdutos: delta row 1: key field ID has no value"},
      {apply, R"(["dspProdutos", ["Delta 1", [["NOME", 8]], [[3, ["Cha"]]]], 9, Empty, Empty])",
       "Provider dspProdutos: key field ID is missing"},
      {apply, R"(["dspProdutos", ["Delta 1", [["ID", 3], ["NOME; DROP TABLE PRODUTO", 8]], [[1, [5, "x"]]]], 9, Empty, Empty])",
       "Invalid delta: field 1 is not a plain column name"},
      {apply, R"(["dspReajuste", ["Delta 1", [["ID", 3]], [[1, [5]]]], 9, Empty, Empty])",
       "Provider dspReajuste: no table to update"},
      {"AS_GetRecords", R"(["dspProdutos", -1, Empty, 0, "", [["MINIMO", 1], ["NADA", 1]], Empty])",
       "Provider dspProdutos: parameter NADA not found"},
      {"AS_Execute", R"(["dspReajuste", "DELETE FROM PRODUTO", [["FATOR", 0]], Empty])",
       "Provider dspReajuste: a client's command text is not accepted"},
      {"AS_RowRequest", R"(["dspProdutos", ["DataPacket 1", [["ID", 3]], [[1], [2]]], 0, Empty])",
       "Provider dspProdutos: a row request holds one row, not 2"},
      {"AS_RowRequest", R"(["dspProdutos", ["DataPacket 1", [], 3], 0, Empty])",
       "Invalid data packet: the row list is Integer, not an array"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Operation(c.member, c.args);
    EXPECT_EQ(failure_, c.failure);
  }
  EXPECT_EQ(Table(), kInitialRows);
}

TEST_P(SqliteModuleTest, VotesAfterEachOperationAndItsFailureWithTheDescription) {
  const struct {
    const char* operation;
    const char* args;
    bool providerFails;
    std::int32_t reportedErrors;
    const char* vote;  // after the operation, with a context and AutoComplete on
  } cases[] = {
      // maximum, then the reported count
      {"AS_ApplyUpdates", R"(["dsp", Empty, 0, Empty, Empty])", false, 0, "complete"},
      {"AS_ApplyUpdates", R"(["dsp", Empty, 0, Empty, Empty])", false, 1, "abort"},
      {"AS_ApplyUpdates", R"(["dsp", Empty, -1, Empty, Empty])", false, 0, "abort"},
      {"AS_ApplyUpdates", R"(["dsp", Empty, -2, Empty, Empty])", false, -1, "complete"},
      {"AS_ApplyUpdates", R"(["dsp", Empty, 2, Empty, Empty])", false, 2, "complete"},
      {"AS_ApplyUpdates", R"(["dsp", Empty, 5, Empty, Empty])", true, 0, "abort"},
      {"AS_GetRecords", R"(["dsp", -1, Empty, 0, "", Empty, Empty])", true, 0, "complete"},
      {"AS_DataRequest", R"(["dsp", 1])", false, 0, ""},
      {"AS_DataRequest", R"(["dsp", 1])", true, 0, ""},
      {"AS_GetProviderNames", "[]", false, 0, "complete"},
      {"AS_GetParams", R"(["dsp", Empty])", true, 0, "complete"},
      {"AS_RowRequest", R"(["dsp", Empty, 0, Empty])", true, 0, "complete"},
      {"AS_Execute", R"(["dsp", "", Empty, Empty])", true, 0, "complete"},
  };
  for (const auto& c : cases) {
    const std::string operation = c.operation;
    TScriptedProvider::fail = c.providerFails;
    TScriptedProvider::reportedErrors = c.reportedErrors;
    // With a context and AutoComplete on; with AutoComplete off; with no context.
    for (int mode = 0; mode < 3; ++mode) {
      SCOPED_TRACE(operation + c.args + " " + std::to_string(c.reportedErrors) + ", mode " + std::to_string(mode));
      if (mode < 2) {
        module_->Activate();
      } else {
        module_->Deactivate();
      }
      module_->SetAutoComplete(mode != 1);
      const std::string votes = Operation(c.operation, c.args);
      EXPECT_EQ(failure_, c.providerFails ? "falhou" : "");
      if (failure_.empty() && operation != "AS_Execute") {
        EXPECT_EQ(result_, operation == "AS_GetProviderNames" ? V(R"(["dspProdutos", "dspReajuste", "dsp"])")
                                                             : Variant("ok"));
      }
      if (failure_.empty() && operation == "AS_ApplyUpdates") {
        EXPECT_EQ(args_[3], Variant(c.reportedErrors));
      }
      // The instrumented call votes complete before every operation, whatever AutoComplete says.
      EXPECT_EQ(votes, mode == 2 ? "" : mode == 1 || !*c.vote ? "complete" : std::string("complete,") + c.vote);
    }
  }
}

TEST_P(SqliteModuleTest, AFailingVoteIsTheOperationsFailureAndTheContextGoesWithDeactivation) {
  gEvents.clear();
  installed_.context->failWith = com::kCONTEXT_E_NOCONTEXT;
  TScriptedProvider::fail = false;
  TScriptedProvider::reportedErrors = 0;
  EXPECT_EQ(module_->AS_GetProviderNames(result_), com::kCONTEXT_E_NOCONTEXT);
  std::int32_t errorCount = 0;
  Variant owner;
  EXPECT_EQ(module_->AS_ApplyUpdates("dsp", Variant(), 0, errorCount, owner, result_), com::kCONTEXT_E_NOCONTEXT);
  EXPECT_EQ(com::GetErrorInfo()->Description, com::ResultText(com::kCONTEXT_E_NOCONTEXT));
  // A failed operation hands back no stale value.
  TScriptedProvider::fail = true;
  installed_.context->failWith = com::kS_OK;
  result_ = "stale";
  EXPECT_EQ(module_->AS_GetParams("dsp", owner, result_), com::kE_FAIL);
  EXPECT_TRUE(result_.IsEmpty());
  module_->Deactivate();
  module_->SetAbort();
  EXPECT_EQ(gEvents, "complete,complete,abort,complete");
}

INSTANTIATE_TEST_SUITE_P(Drivers, SqliteModuleTest,
                         ::testing::Values(DriverCase{"embedded", "Provider=SQLite;Data Source="},
                                           DriverCase{"odbc", "Driver=SQLite3;Database="}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qar::automation
