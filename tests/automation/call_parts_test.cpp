// The pieces of an instrumented call on their own: the caller identity (and connection)
// taken out of the arguments, the session statements by provider and kind as a
// recording session receives them, and tr_report.txt byte for byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "../data/recording_session.h"
#include "../data/session_statements.h"
#include "../diagnostics/diagnostics_sandbox.h"
#include "automation/VCLCom.h"
#include "automation/automation_texts.h"
#include "automation/caller_identity.h"
#include "automation/connection_reference.h"
#include "automation/session_registration.h"
#include "automation/transaction_report.h"
#include "com/dispatch_client.h"
#include "com/type_info.h"
#include "data/named_params.h"
#include "diagnostics/log_file.h"
#include "diagnostics/log_file_name.h"

namespace qar::automation {
namespace {

const std::string kBasic(kBasicIdentityPrefix);
const std::string kExtended(kExtendedIdentityPrefix);
// Address 192.168.0.10, host, application, operator and key at their positions: 46 characters.
const std::string kFields =
    std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          " + "CAIXA     " + "MARIA       " + "211  ";

TEST(CallerIdentityTest, TheIdentityIsFoundCutAndRemovedFromTheArguments) {
  const std::string x29(29, 'x');
  TADOConnection connection;
  Variant variable = kBasic + x29;
  Variant connectionVariable = ConnectionArgument(connection);  // a script's variable: by reference
  const Variant otherObject =
      Variant::FromInterface(TComPtr<IUnknown>(com::CreateOleObject("QarTeste.Servidor").Get()), kVarDispatch);
  const struct {
    const char* name;
    std::vector<Variant> args;  // in call order
    std::uint32_t named;
    int kind;  // -1: refused (a type mismatch, nothing removed)
    std::string text;
    std::uint32_t argsLeft;
    bool connection;
  } cases[] = {
      {"extended, 45", {kExtended + kFields.substr(0, 45)}, 0, 4, kFields.substr(0, 45), 0, false},
      {"extended, 47", {kExtended + kFields + "z"}, 0, 4, kFields + "z", 0, false},
      {"60 characters cut to 50", {kExtended + std::string(60, 'y')}, 0, 4, std::string(50, 'y'), 0, false},
      {"not a string", {42, "a"}, 0, 0, "", 2, false},
      {"another prefix", {"\xAB%\xBB" + x29}, 0, 0, "", 1, false},
      {"identity third", {"a", "b", kBasic + x29}, 0, 0, "", 3, false},
      {"in a script variable: an ordinary argument", {Variant::ByRef(variable)}, 0, 0, "", 1, false},
      {"named arguments are never taken", {kBasic + x29}, 1, 0, "", 1, false},
      {"nor looked at", {kBasic + x29, kBasic + x29}, 1, 3, x29, 1, false},
      {"connection object", {Variant::ByRef(connectionVariable), kBasic + x29, "a"}, 0, 3, x29, 1, true},
      {"0 as connection", {0, kBasic + x29, "a"}, 0, 3, x29, 1, false},
      {"Null as connection", {Variant::Null(), kBasic + x29}, 0, 3, x29, 0, false},
      {"a number (an address, once)", {12345678, kBasic + x29}, 0, -1, "", 2, false},
      {"a text as connection", {"a", kBasic + x29}, 0, -1, "", 2, false},
      {"another object as connection", {otherObject, kBasic + x29}, 0, -1, "", 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    com::TDispArgs args(c.args);
    com::DispId named = com::kDispIdPropertyPut;
    args.Params().NamedArgs = &named;
    args.Params().NamedArgCount = c.named;
    CallContext call;
    try {
      ExtractCallerIdentity(call, args.Params());
      EXPECT_EQ(call.IdentityKind, c.kind);
    } catch (const com::EOleError& error) {
      EXPECT_EQ(c.kind, -1);
      EXPECT_EQ(error.Code(), com::kDISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(call.IdentityText, c.text);
    EXPECT_EQ(args.Params().ArgCount, c.argsLeft);
    EXPECT_EQ(call.ClientConnection, c.connection ? connection.ConnectionObject() : nullptr);
  }
}

class TdmSessao : public TComponent {
 public:
  void GravaPedido() {}
  void MetodoComUmNomeDeTrintaECincoLetras() {}
};

TVCLAutoObjectFactory gSessaoFactory = VCLAutoObjectFactoryOf<TdmSessao>(
    {TGUID::Parse("{0D1E2F30-4152-4637-8495-A6B7C8D9EAF1}"), "dmSessao", "QarTeste.Sessao", ""},
    com::TTypeInfoBuilder<TdmSessao>("IdmSessao", TGUID::Parse("{0D1E2F30-4152-4637-8495-A6B7C8D9EAF2}"))
        .Method(7, "GravaPedido", &TdmSessao::GravaPedido)
        .Method(8, "MetodoComUmNomeDeTrintaECincoLetras", &TdmSessao::MetodoComUmNomeDeTrintaECincoLetras)
        .Build());

// What a session receives for `statement`: its text with positional markers, and the values.
std::string Sent(const std::string& statement, const std::string& values = "") {
  return ParseNamedParams(statement).text + "(" + values + ")\n";
}

// Registration, "--", removal; then a provider without statements, a session whose
// statements fail, one that cannot connect: nothing registered, each described; no
// connection: nothing to register, nothing to describe.
TEST(SessionRegistrationTest, StatementsByProviderAndKindReachTheSessionByteForByteAndFailuresAreSwallowed) {
  namespace t = ::qar::testing;
  const std::string module = diagnostics::ModuleShortName();
  const std::string head = "192.168.0.10|PDV01          |CAIXA     |";
  const std::string longValues = head + "MARIA|dmVendasComUmNomeMui|" + module + "|";
  const std::string shortValues = head + "dmVendasComUmNomeMui|" + module + "|";
  const struct {
    const char* connectionString;
    std::uint8_t kind;
    com::DispId method;
    std::string sent;
    const char* failWith = "";
    const char* refuseConnect = "";
  } cases[] = {
      {"Provider=MSDAORA;Data Source=ORCL", 4, 7,
       Sent(t::kInsertLongOracle, longValues + "GravaPedido") + Sent("COMMIT") + "--" + Sent(t::kDeleteLongOracle) +
           Sent("COMMIT")},
      {"Provider=msdaora;Extended=SQLOLEDB", 3, 7,
       Sent(t::kInsertShortOracle, shortValues + "7") + Sent("COMMIT") + "--" + Sent(t::kDeleteShortOracle) +
           Sent("COMMIT")},
      {"Provider=SQLOLEDB.1;Data Source=LOJA", 5, 8,
       Sent(t::kInsertLongSqlServer, longValues + "MetodoComUmNomeDeTrintaECincoL") + "--" + Sent(t::kDeleteSqlServer)},
      {"Provider=SQLOLEDB;Data Source=LOJA", 3, 99,
       Sent(t::kInsertShortSqlServer, shortValues + "99") + "--" + Sent(t::kDeleteSqlServer)},
      {"Driver={Microsoft Access Driver (*.mdb)};DBQ=c:\\sqlite\\x.mdb", 4, 7, "--"},
      {"Provider=SQLOLEDB", 4, 7, "--", "Invalid object name 'SQLWEBTUNNING'."},
      {"Provider=SQLOLEDB", 3, 7, "--", "", "Login failed"},
  };
  TComPtr<IUnknown> object = gSessaoFactory.CreateComObject();
  CallContext call;
  call.AutoObject = static_cast<com::TAutoObject*>(static_cast<com::TComObject*>(object.Get()));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.connectionString);
    TComponent owner;
    owner.SetName("dmVendasComUmNomeMuitoLongo");
    TADOConnection& connection = owner.CreateComponent<TADOConnection>();
    connection.SetConnectionString(c.connectionString);
    auto recording = std::make_shared<t::Recording>();
    recording->failWith = c.failWith;
    recording->refuseConnect = c.refuseConnect;
    connection.ConnectionObject()->SetSessionFactory(t::RecordingFactory(recording));
    const std::string identity = c.kind == 0 ? "" : kFields.substr(0, 34);
    std::string failure;
    EXPECT_EQ(RegisterSession(&connection, identity, c.kind, c.method, call, failure), c.sent != "--");
    const std::string described = c.sent != "--" ? "" : *c.failWith ? c.failWith : *c.refuseConnect ? c.refuseConnect : "No session statements";
    if (described.empty()) {
      EXPECT_EQ(failure, "");
    } else {
      EXPECT_NE(failure.find(described), std::string::npos) << failure;
    }
    recording->calls.push_back({"--", {}, false, std::nullopt});
    UnregisterSession(&connection, c.kind);
    std::string sent;
    for (const t::RecordedCall& recorded : recording->calls) {
      std::string values;
      for (const TDriverParameter& parameter : recorded.parameters)
        values += (values.empty() ? "" : "|") + parameter.value.AsString();
      sent += recorded.text == "--" ? "--" : recorded.text + "(" + values + ")\n";
    }
    if (!*c.failWith) {
      EXPECT_EQ(sent, c.sent);
    }
    EXPECT_EQ(connection.GetCommandCount(), 0);
  }
  std::string failure;
  EXPECT_FALSE(RegisterSession(nullptr, kFields, 3, 1, call, failure));
  EXPECT_EQ(failure, "");
}

using TransactionReportTest = diagnostics::testing::DiagnosticsSandbox;

TEST_F(TransactionReportTest, FirstEntryWithoutSeparatorLaterOnesAfterTheTitle) {
  const std::string path = Dir() + "tr_report.txt";
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  const std::string golden = QAR_AUTOMATION_GOLDEN_DIR;

  // Longer texts than the identity holds show the cuts of the last three lines.
  TransactionReportEntry entry{"C:\\Servidores\\QarDemoSrv.dll", "dmVendas", "GravaPedido",
                               "MARIA DA SILVA", "LOJA01-PDV01-CAIXA", "CAIXA-RAPIDO"};
  AppendTransactionReport(path, entry, platform::EncodeDateTime({2026, 12, 5, 14, 3, 29, 0}));
  EXPECT_EQ(ReadFile(path), ReadFile(golden + "tr_report_first.txt"));

  // A call without identity, on a connection whose owner has no name.
  entry = {"C:\\Servidores\\QarDemoSrv.dll", "", std::string(texts::kMethodNotIdentified), "", "", ""};
  AppendTransactionReport(path, entry, platform::EncodeDateTime({2026, 12, 5, 14, 5, 0, 0}));
  EXPECT_EQ(ReadFile(path), ReadFile(golden + "tr_report_second.txt"));

  std::filesystem::remove_all(platform::ToNativePath(Dir()));
  EXPECT_THROW(AppendTransactionReport(path, entry, 0), diagnostics::EInOutError);
}

}  // namespace
}  // namespace qar::automation
