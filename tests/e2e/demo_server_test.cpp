// The demonstration server end to end, set up as scripts/run-demo-server does it
// (QarCfg stores the settings, QarDemo.exe --setup the database): its client's calls
// (QarDemo.exe; on Windows demo.vbs through real COM) checked where the layer leaves
// them: the output, the logs, SQLWEBTUNNING, tr_report.txt and the orders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "agent_fixture.h"
#include "config/GeralQar.h"
#include "demo_client.h"
#include "platform/registry.h"

namespace qar::e2e {
namespace {

class DemoServerTest : public AgentCase {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(platform::ToNativePath(BuiltDemoClient()), platform::ToNativePath(Dir() + "QarDemo.exe"));
    std::filesystem::create_directory(platform::ToNativePath(Dir() + "logs"));
    Admin({"set-connection", SqliteConnectionString(installation_.DatabaseFile("vendas.db"))});
    Admin({"set", "SqlMonitor", "2"});
    Admin({"set", "SqlMonUser", "MARIA"});
    Admin({"set", "TunningID", "1"});
    Admin({"set", "TmpFileDir", Dir() + "logs"});
  }
  // Windows keeps the settings in the prefix's registry, which later cases share.
  void TearDown() override {
    platform::RegistryKey key;
    if (key.Open(config::sSiteWebSrvKey, false) == platform::RegStatus::kOk)
      for (const char* name : {"SqlMonitor", "SqlMonUser", "TunningID", "TmpFileDir"}) key.DeleteValue(name);
    AgentCase::TearDown();
  }

  const std::string& Dir() const { return installation_.Dir(); }
  void Admin(const std::vector<std::string>& args) {
    const ToolRun run = RunAdminTool(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }

  // The client's calls on a freshly set-up database (its lines without CR).
  std::string SetUpAndRunClient() {
    const DemoRun setup = RunToEnd(Dir() + "QarDemo.exe", {"--setup"}, Dir(), "setup");
    EXPECT_EQ(setup.exitCode, 0) << setup.err;
    DemoRun run = RunDemoClient(installation_);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    std::erase(run.out, '\r');
    return run.out;
  }

  // The one log whose name ends with `ending` (and holds `part`).
  std::string Log(const std::string& ending, const std::string& part) {
    std::vector<std::filesystem::path> logs;
    for (const auto& entry : std::filesystem::directory_iterator(platform::ToNativePath(Dir() + "logs")))
      if (platform::FromNativePath(entry.path().filename()).ends_with(ending)) logs.push_back(entry.path());
    EXPECT_EQ(logs.size(), 1u) << ending;
    if (logs.empty()) return "";
    EXPECT_NE(platform::FromNativePath(logs[0].filename()).find(part), std::string::npos);
    std::ifstream in(logs[0], std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::int32_t SessionRows() {
    TADOConnection connection;
    connection.SetConnectionString(SqliteConnectionString(installation_.DatabaseFile("vendas.db")));
    TADOQuery query;
    query.SetConnection(&connection);
    query.SQL().Add("select count(*) as N from SQLWEBTUNNING");
    query.Open();
    return query.FieldByName("N").AsInteger();
  }
};

// What the client prints, with `sessions` rows seen by an identified caller and the
// database's message for the failing insert.
std::string ExpectedCalls(const std::string& sessions, const std::string& failure) {
  return "ListaPedidos() -> 41 A Padaria Central; 42 A Mercado Sao Jorge; 43 A Bar do Porto\n"
         "SessoesAtivas() without identity -> 0\n"
         "SessoesAtivas() as PDV01/CAIXA (kind 3) -> " + sessions + "\n"
         "SessoesAtivas() as MARIA (kind 4) -> " + sessions + "\n"
         "SessoesAtivas() as GERENTE, database 211 (kind 5) -> " + sessions + "\n"
         "AbrePedido(43) as MARIA (kind 4) -> 1\n"
         "FalhaPedido() as JOAO (kind 4) -> error: " + failure + "\n"
         "GravaPedido(\"F\", 42) as MARIA (kind 4) -> 1\n"
         "ListaPedidos() -> 41 A Padaria Central; 42 F Mercado Sao Jorge; 43 A Bar do Porto\n";
}

std::string FailureOf(const std::string& output) {
  const std::string label = "FalhaPedido() as JOAO (kind 4) -> error: ";
  const std::size_t at = output.find(label);
  return at == std::string::npos ? "" : output.substr(at + label.size(), output.find('\n', at) - at - label.size());
}

TEST_F(DemoServerTest, EveryCallLeavesItsTracesAndNoSessionRowOrOpenUpdateIsLeft) {
  const std::string output = SetUpAndRunClient();
  const std::string failure = FailureOf(output);
  EXPECT_NE(failure.find("UNIQUE constraint failed"), std::string::npos) << output;
  // The update AbrePedido left open is rolled back: order 43 stays "A".
  EXPECT_EQ(output.substr(0, ExpectedCalls("1", failure).size()), ExpectedCalls("1", failure));
  EXPECT_EQ(SessionRows(), 0);

  // Monitored: MARIA's statements, before and after, with their parameters.
  EXPECT_NE(Log("_Monitor.log", "_MARIA_")
                .find("Equipamento Cliente: \r\n   PDV01          \r\n\r\nAplica\xE7\xE3o: \r\n   CAIXA     \r\n\r\n"
                      "Operador: \r\n   MARIA\r\n\r\nDataModule: \r\n   dmVendas (GravaPedido)\r\n\r\n"
                      "SQL: \r\n   update PEDIDO set SITUACAO = ? where ID = ?\r\n\r\n"
                      "Parametros: \r\n   No.: 0 - Nome: SITUACAO - Valor: F\r\n   No.: 1 - Nome: ID - Valor: 42\r\n\r\n"
                      "T\xE9rmino de Execu\xE7\xE3o: "),
            std::string::npos);
  // Not monitored: only JOAO's failure, with the message the client got.
  const std::string errors = Log("_Error.log", "");
  EXPECT_NE(errors.find("   JOAO\r\n\r\nDataModule: \r\n   dmVendas (FalhaPedido)\r\n\r\nSQL: \r\n"
                        "   insert into PEDIDO (ID, CLIENTE, SITUACAO) values (41, 'Pedido repetido', 'A')\r\n\r\n"
                        "Erro: \r\n   " + failure + "\r\n"),
            std::string::npos)
      << errors;
  EXPECT_EQ(errors.find("Erro: "), errors.rfind("Erro: "));
  // The one report entry, in a new file: no separator above it.
  const std::string report = installation_.ReadText("tr_report.txt");
  EXPECT_EQ(report.rfind("Data/Hora .: "), 0u) << report;
  EXPECT_NE(report.find("Datamodule : dmVendas\r\nM\xE9todo ....: AbrePedido\r\nOperador ..: MARIA\r\n"
                        "Rem. Host .: PDV01          \r\nRem. Aplic.: CAIXA     \r\n"),
            std::string::npos)
      << report;

  // Tuning off: nobody is registered. Setting up again puts the orders back.
  Admin({"set", "TunningID", "0"});
  const std::string untuned = SetUpAndRunClient();
  EXPECT_EQ(untuned.substr(0, ExpectedCalls("0", failure).size()), ExpectedCalls("0", failure));
  EXPECT_EQ(SessionRows(), 0);
}

}  // namespace
}  // namespace qar::e2e
