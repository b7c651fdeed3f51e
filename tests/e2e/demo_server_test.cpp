// The demonstration server end to end, set up as scripts/run-demo-server does it: its
// client's calls (QarDemo.exe; on Windows demo.vbs through real COM) checked where the
// layer leaves them: output, logs, SQLWEBTUNNING, tr_report.txt and the orders.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <tuple>
#include <utility>
#include <vector>

#include "agent_fixture.h"
#include "config/GeralQar.h"
#include "demo_client.h"
#include "platform/registry.h"

namespace qar::e2e {
namespace {

std::string Undated(const std::string& text) {  // dates and times of entries as "dd/mm/yyyy" and "hh:mm:ss"
  return std::regex_replace(std::regex_replace(text, std::regex("\\d\\d/\\d\\d/\\d{4}"), "dd/mm/yyyy"),
                            std::regex("\\d\\d:\\d\\d:\\d\\d"), "hh:mm:ss");
}

class DemoServerTest : public AgentCase {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(platform::ToNativePath(platform::ExtractFilePath(platform::ExecutableFileName()) + QAR_E2E_QARDEMO),
                               platform::ToNativePath(Dir() + "QarDemo.exe"));
    std::filesystem::create_directory(platform::ToNativePath(Dir() + "logs"));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"set-connection", "--create", SqliteConnectionString(installation_.DatabaseFile("vendas.db"))},
             {"set", "SqlMonitor", "2"}, {"set", "SqlMonUser", "MARIA"}, {"set", "TunningID", "1"},
             {"set", "TmpFileDir", Dir() + "logs"}})
      EXPECT_EQ(RunAdminTool(args).exitCode, 0);
  }
  void TearDown() override {  // Windows: the prefix's registry, which later cases share
    platform::RegistryKey key;
    if (key.Open(config::sSiteWebSrvKey, false) == platform::RegStatus::kOk)
      for (const char* name : {"SqlMonitor", "SqlMonUser", "TunningID", "TmpFileDir"}) key.DeleteValue(name);
    AgentCase::TearDown();
  }
  const std::string& Dir() const { return installation_.Dir(); }

  // The setup (again), the client's calls, and its lines without CR.
  std::string SetUpAndRunClient() {
    EXPECT_EQ(ChildProcess(Dir() + "QarDemo.exe", {"--setup"}, Dir(), Dir() + "setup").Wait(kBound), 0)
        << installation_.ReadText("setup.err");
    EXPECT_EQ(RunDemoClient(installation_), 0) << installation_.ReadText("client.out") << installation_.ReadText("client.err");
    return std::regex_replace(installation_.ReadText("client.out"), std::regex("\r"), "");
  }

  std::string Logs(const std::string& ending) const {  // the logs whose names end so
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(platform::ToNativePath(Dir() + "logs")))
      if (entry.path().string().ends_with(ending)) text += installation_.ReadText("logs/" + entry.path().filename().string());
    return text;
  }
  std::int64_t SessionRowsLeft() const {  // and deletes them, whoever left them
    TADOConnection connection;
    connection.SetConnectionString(SqliteConnectionString(installation_.DatabaseFile("vendas.db")));
    return connection.Execute("delete from SQLWEBTUNNING");
  }
};

// The client's lines for `sessions` rows seen by an identified caller and the database's message for
// the failing insert. Order 43 keeps its "A": the update AbrePedido left open was rolled back.
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

TEST_F(DemoServerTest, EveryCallLeavesItsTracesAndNoSessionRowOrOpenUpdateIsLeft) {
  const std::string output = SetUpAndRunClient();
  // The database's message as the client got it (on Windows its ODBC driver adds the error's number).
  const std::string failure = std::regex_replace(output, std::regex("[\\s\\S]*JOAO.*error: (UNIQUE constraint failed: PEDIDO\\.ID.*)[\\s\\S]*"), "$1");
  EXPECT_EQ(output.substr(0, ExpectedCalls("1", failure).size()), ExpectedCalls("1", failure));
  EXPECT_EQ(SessionRowsLeft(), 0);
  const std::string caller = "Equipamento Cliente: \r\n   PDV01          \r\n\r\nAplica\xE7\xE3o: \r\n   CAIXA     \r\n\r\nOperador: \r\n   ";
  const std::tuple<bool, std::string, std::string> traces[] = {  // {the whole text?, text, entry}
      {false, Undated(Logs("_Monitor.log")),  // MARIA's statement before and after its execution
       std::string(90, '-') + "\r\nIn\xED" "cio de Execu\xE7\xE3o: hh:mm:ss\r\n\r\n" + caller +
           "MARIA\r\n\r\nDataModule: \r\n   dmVendas (GravaPedido)\r\n\r\nSQL: \r\n   update PEDIDO set SITUACAO = ? where ID = ?\r\n\r\n"
           "Parametros: \r\n   No.: 0 - Nome: SITUACAO - Valor: F\r\n   No.: 1 - Nome: ID - Valor: 42\r\n\r\n"
           "T\xE9rmino de Execu\xE7\xE3o: hh:mm:ss\r\n\r\n"},
      {true, Undated(Logs("_Error.log")),  // only the failure of JOAO, who is not monitored, with the message the client got
       "--------\r\nhh:mm:ss\r\n--------\r\n" + caller + "JOAO\r\n\r\nDataModule: \r\n   dmVendas (FalhaPedido)\r\n\r\nSQL: \r\n"
           "   insert into PEDIDO (ID, CLIENTE, SITUACAO) values (41, 'Pedido repetido', 'A')\r\n\r\nErro: \r\n   " + failure + "\r\n\r\n"},
      {true, Undated(installation_.ReadText("tr_report.txt")),  // one entry in a new file: no separator above it
       "Data/Hora .: dd/mm/yyyy hh:mm:ss\r\nDLL .......: " + DemoServerModule(installation_) + "\r\nDatamodule : dmVendas\r\n"
           "M\xE9todo ....: AbrePedido\r\nOperador ..: MARIA\r\nRem. Host .: PDV01          \r\nRem. Aplic.: CAIXA     \r\n"},
  };
  for (const auto& [whole, text, entry] : traces) {
    if (whole) EXPECT_EQ(text, entry);
    else EXPECT_NE(text.find(entry), std::string::npos) << text << "\nhas no entry\n" << entry;
  }

  // Tuning off: nobody is registered. Setting up again puts the orders back.
  EXPECT_EQ(RunAdminTool({"set", "TunningID", "0"}).exitCode, 0);
  EXPECT_EQ(SetUpAndRunClient().substr(0, ExpectedCalls("0", failure).size()), ExpectedCalls("0", failure));
  EXPECT_EQ(SessionRowsLeft(), 0);
}

// Two clients at once on one SQLite file, each making 500 rounds of the server's calls, among them
// AbrePedido's transaction that reads and then writes, through the embedded driver and the SQLite ODBC
// driver (Windows has only the latter): a lock the other holds is waited for, so no call fails; no
// session row is left, and order 43 ends as the committed calls left it, AbrePedido's update rolled
// back every time.
TEST_F(DemoServerTest, TwoClientsAtOnceNeverSeeTheDatabaseLocked) {
  const std::string file = installation_.DatabaseFile("vendas.db");
  std::vector<std::string> drivers = {SqliteConnectionString(file)};
#ifndef _WIN32
  drivers.push_back("Driver=SQLite3;Database=" + file);
#endif
  for (const std::string& driver : drivers) {
    SCOPED_TRACE(driver);
    ASSERT_EQ(RunAdminTool({"set-connection", driver}).exitCode, 0);
    ASSERT_EQ(ChildProcess(Dir() + "QarDemo.exe", {"--setup"}, Dir(), Dir() + "setup").Wait(kBound), 0)
        << installation_.ReadText("setup.err");
    ChildProcess first(Dir() + "QarDemo.exe", {"--rounds", "500"}, Dir(), Dir() + "rounds1");
    ChildProcess second(Dir() + "QarDemo.exe", {"--rounds", "500"}, Dir(), Dir() + "rounds2");
    for (const auto& [client, output] : {std::pair<ChildProcess*, std::string>{&first, "rounds1"}, {&second, "rounds2"}}) {
      EXPECT_EQ(client->Wait(10 * kBound), 0) << installation_.ReadText(output + ".err");
      EXPECT_EQ(std::regex_replace(installation_.ReadText(output + ".out"), std::regex("\r"), ""),
                "500 rounds of 5 calls: 0 failed\n");
    }
    EXPECT_EQ(SessionRowsLeft(), 0);
    TADOConnection connection;
    connection.SetConnectionString(SqliteConnectionString(file));
    TADOQuery orders;
    orders.SetConnection(&connection);
    orders.SQL().Add("select group_concat(SITUACAO, '') as S from (select SITUACAO from PEDIDO order by ID)");
    orders.Open();
    EXPECT_EQ(orders.FieldByName("S").AsString(), "AFA");
  }
}

#ifdef _WIN32
// Through the system's COM: a new object's first identified call (its module sets the connection
// string in BeforeConnect) registers its session row; a method that calls its own object keeps its
// transaction, so both orders change and stay changed.
TEST_F(DemoServerTest, ANewObjectsFirstCallIsRegisteredAndANestedCallKeepsItsTransaction) {
  ASSERT_EQ(ChildProcess(Dir() + "QarDemo.exe", {"--setup"}, Dir(), Dir() + "setup").Wait(kBound), 0);
  std::ofstream(platform::ToNativePath(Dir() + "nested.vbs"), std::ios::binary)
      << "On Error Resume Next\r\n"
         "Set s = CreateObject(\"QarDemo.Vendas\")\r\n"
         "WScript.Echo s.SessoesAtivas(Chr(171) & \"$\" & Chr(187) & Chr(192) & Chr(168) & Chr(1) & Chr(20) & "
         "\"PDV01          CAIXA     MARIA\")\r\n"
         "n = s.GravaPedidos(\"F\", 41, 43): WScript.Echo n & \" \" & Hex(Err.Number) & \" \" & Err.Description\r\n"
         "p = s.ListaPedidos(): text = \"\": For Each row In p(2): text = text & row(2): Next: WScript.Echo text\r\n";
  EXPECT_EQ(RunDemoScript(installation_, "nested.vbs", "nested"), 0) << installation_.ReadText("nested.err");
  EXPECT_EQ(installation_.ReadText("nested.out"), "1\r\n2 0 \r\nFAF\r\n");
  EXPECT_EQ(SessionRowsLeft(), 0);
}
#endif

}  // namespace
}  // namespace qar::e2e
