// The session row statements by provider and kind, byte for byte, as a recording
// database session receives them (the rows of real calls: instrumented_call_test.cpp).
#include "automation/session_registration.h"

#include <gtest/gtest.h>

#include "../data/recording_session.h"
#include "../data/session_statements.h"
#include "automation/VCLCom.h"
#include "com/type_info.h"
#include "data/named_params.h"
#include "diagnostics/log_file_name.h"

namespace qar::automation {
namespace {

class TdmSessao : public TComponent {
 public:
  void GravaPedido() {}
  void MetodoComUmNomeDeTrintaECincoLetras() {}
};

com::TAutoObjectFactory gSessaoFactory = VCLAutoObjectFactoryOf<TdmSessao>(
    {TGUID::Parse("{0D1E2F30-4152-4637-8495-A6B7C8D9EAF1}"), "dmSessao", "QarTeste.Sessao", ""},
    com::TTypeInfoBuilder<TdmSessao>("IdmSessao", TGUID::Parse("{0D1E2F30-4152-4637-8495-A6B7C8D9EAF2}"))
        .Method(7, "GravaPedido", &TdmSessao::GravaPedido)
        .Method(8, "MetodoComUmNomeDeTrintaECincoLetras", &TdmSessao::MetodoComUmNomeDeTrintaECincoLetras)
        .Build());

const std::string kIdentity = std::string("\xC0\xA8\x00\x0A", 4) + "PDV01          CAIXA     MARIA";

// What a session receives for `statement`: its text with positional markers, and the values.
std::string Sent(const std::string& statement, const std::string& values = "") {
  return ParseNamedParams(statement).text + "(" + values + ")\n";
}

TEST(SessionRegistrationTest, StatementsByProviderAndKindReachTheSessionByteForByte) {
  const std::string module = diagnostics::ModuleShortName();
  const std::string head = "192.168.0.10|PDV01          |CAIXA     |";
  const std::string longValues = head + "MARIA|dmVendasComUmNomeMui|" + module + "|";
  const std::string shortValues = head + "dmVendasComUmNomeMui|" + module + "|";
  const struct {
    const char* connectionString;
    std::uint8_t kind;
    com::DispId method;
    std::string sent;  // registration, "--", removal
  } cases[] = {
      {"Provider=MSDAORA;Data Source=ORCL", 4, 7,
       Sent(testing::kInsertLongOracle, longValues + "GravaPedido") + Sent("COMMIT") + "--" +
           Sent(testing::kDeleteLongOracle) + Sent("COMMIT")},
      {"Provider=msdaora;Extended=SQLOLEDB", 3, 7,
       Sent(testing::kInsertShortOracle, shortValues + "7") + Sent("COMMIT") + "--" +
           Sent(testing::kDeleteShortOracle) + Sent("COMMIT")},
      {"Provider=SQLOLEDB.1;Data Source=LOJA", 5, 8,
       Sent(testing::kInsertLongSqlServer, longValues + "MetodoComUmNomeDeTrintaECincoL") + "--" +
           Sent(testing::kDeleteSqlServer)},
      {"Provider=SQLite;Data Source=x.db", 3, 99,
       Sent(testing::kInsertShortSqlServer, shortValues + "99") + "--" + Sent(testing::kDeleteSqlServer)},
      {"Driver=SQLite3;Database=x.db", 0, 1,
       Sent(testing::kInsertShortSqlServer, "0.0.0.0|||dmVendasComUmNomeMui|" + module + "|1") + "--" +
           Sent(testing::kDeleteSqlServer)},
      {"Driver={Microsoft Access Driver (*.mdb)};DBQ=c:\\sqlite\\x.mdb", 4, 7, "--"},
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
    auto recording = std::make_shared<testing::Recording>();
    connection.ConnectionObject()->SetSessionFactory(testing::RecordingFactory(recording));
    const std::string identity = c.kind == 0 ? "" : kIdentity;
    EXPECT_EQ(RegisterSession(&connection, identity, c.kind, c.method, call), c.sent != "--");
    recording->calls.push_back({"--", {}, false});
    UnregisterSession(&connection, c.kind);
    std::string sent;
    for (const testing::RecordedCall& recorded : recording->calls) {
      if (recorded.text == "--") {
        sent += "--";
        continue;
      }
      std::string values;
      for (const TDriverParameter& parameter : recorded.parameters)
        values += (values.empty() ? "" : "|") + parameter.value.AsString();
      sent += recorded.text + "(" + values + ")\n";
    }
    EXPECT_EQ(sent, c.sent);
  }
}

TEST(SessionRegistrationTest, FailuresAreSwallowed) {
  TADOConnection connection;
  connection.SetConnectionString("Provider=SQLOLEDB");
  auto recording = std::make_shared<testing::Recording>();
  recording->failWith = "Invalid object name 'SQLWEBTUNNING'.";
  connection.ConnectionObject()->SetSessionFactory(testing::RecordingFactory(recording));
  CallContext call;
  EXPECT_FALSE(RegisterSession(&connection, kIdentity, 4, 1, call));
  EXPECT_NO_THROW(UnregisterSession(&connection, 4));
  recording->refuseConnect = "Login failed";
  EXPECT_FALSE(RegisterSession(&connection, kIdentity, 3, 1, call));
  EXPECT_FALSE(RegisterSession(nullptr, kIdentity, 3, 1, call));
  EXPECT_EQ(connection.GetCommandCount(), 0);
}

}  // namespace
}  // namespace qar::automation
