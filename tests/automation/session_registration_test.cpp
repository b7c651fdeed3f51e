// The session row statements, byte for byte, as a recording database session receives them.
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

struct StatementCase {
  const char* connectionString;
  std::uint8_t kind;
  com::DispId method;
  std::vector<std::string> registered;  // statements (named markers), then their parameter values
  std::string values;                   // "|"-joined values of the insert
  std::vector<std::string> unregistered;
};

TEST(SessionRegistrationTest, StatementsByProviderAndKindReachTheSessionByteForByte) {
  const std::string module = diagnostics::ModuleShortName();
  const std::string rowBase = "192.168.0.10|PDV01          |CAIXA     |";
  const StatementCase cases[] = {
      {"Provider=MSDAORA;Data Source=ORCL", 4, 7, {testing::kInsertLongOracle, "COMMIT"},
       rowBase + "MARIA|dmVendasComUmNomeMui|" + module + "|GravaPedido", {testing::kDeleteLongOracle, "COMMIT"}},
      {"Provider=msdaora;Extended=SQLOLEDB", 3, 7, {testing::kInsertShortOracle, "COMMIT"},
       rowBase + "dmVendasComUmNomeMui|" + module + "|7", {testing::kDeleteShortOracle, "COMMIT"}},
      {"Provider=SQLOLEDB.1;Data Source=LOJA", 5, 8, {testing::kInsertLongSqlServer},
       rowBase + "MARIA|dmVendasComUmNomeMui|" + module + "|MetodoComUmNomeDeTrintaECincoL", {testing::kDeleteSqlServer}},
      {"Provider=SQLite;Data Source=x.db", 3, 99, {testing::kInsertShortSqlServer},
       rowBase + "dmVendasComUmNomeMui|" + module + "|99", {testing::kDeleteSqlServer}},
      {"Driver=SQLite3;Database=x.db", 0, 1, {testing::kInsertShortSqlServer},
       "0.0.0.0|||dmVendasComUmNomeMui|" + module + "|1", {testing::kDeleteSqlServer}},
      {"Driver={Microsoft Access Driver (*.mdb)};DBQ=c:\\sqlite\\x.mdb", 4, 7, {}, "", {}},
  };
  TComPtr<IUnknown> object = gSessaoFactory.CreateComObject();
  CallContext call;
  call.AutoObject = static_cast<com::TAutoObject*>(static_cast<com::TComObject*>(object.Get()));
  for (const StatementCase& c : cases) {
    SCOPED_TRACE(c.connectionString);
    TComponent owner;
    owner.SetName("dmVendasComUmNomeMuitoLongo");
    TADOConnection& connection = owner.CreateComponent<TADOConnection>();
    connection.SetConnectionString(c.connectionString);
    auto recording = std::make_shared<testing::Recording>();
    connection.ConnectionObject()->SetSessionFactory(testing::RecordingFactory(recording));
    const std::string identity = c.kind == 0 ? "" : kIdentity;

    EXPECT_EQ(RegisterSession(&connection, identity, c.kind, c.method, call), !c.registered.empty());
    ASSERT_EQ(recording->calls.size(), c.registered.size());
    for (std::size_t i = 0; i < c.registered.size(); ++i)
      EXPECT_EQ(recording->calls[i].text, ParseNamedParams(c.registered[i]).text);
    if (!c.registered.empty()) {
      std::string values;
      const TNamedParamText expected = ParseNamedParams(c.registered[0]);
      ASSERT_EQ(recording->calls[0].parameters.size(), expected.names.size());
      for (std::size_t i = 0; i < expected.names.size(); ++i) {
        EXPECT_EQ(recording->calls[0].parameters[i].name, expected.names[i]);
        values += (i > 0 ? "|" : "") + recording->calls[0].parameters[i].value.AsString();
      }
      EXPECT_EQ(values, c.values);
    }
    recording->calls.clear();
    UnregisterSession(&connection, c.kind);
    ASSERT_EQ(recording->calls.size(), c.unregistered.size());
    for (std::size_t i = 0; i < c.unregistered.size(); ++i)
      EXPECT_EQ(recording->calls[i].text, c.unregistered[i]);
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
  EXPECT_NO_THROW(UnregisterSession(nullptr, 3));
  EXPECT_EQ(connection.GetCommandCount(), 0);
}

}  // namespace
}  // namespace qar::automation
