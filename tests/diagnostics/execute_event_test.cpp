// The SQL execution monitor on real statements of both SQLite drivers: byte-exact
// entries, chaining, failures, threads.
#include "scratch_database.h"
#include "diagnostics/execute_event.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <thread>

#include "../data/recording_session.h"
#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/ado_stored_proc.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using namespace std::chrono_literals;

platform::TDateTime At(int hour, int minute, int second, int day = 5) {
  return platform::EncodeDateTime({2026, 12, day, hour, minute, second});
}

// The entries of a log, sorted: each starts at a rule of 90 "=" (connect) or "-"
// (before execution) or at "Término de Execução: " (after execution).
std::vector<std::string> Entries(const std::string& log) {
  static const std::regex start("\r\n(?=={90}|-{90}|T\xE9rmino)");
  std::vector<std::string> entries(std::sregex_token_iterator(log.begin(), log.end(), start, -1), {});
  std::sort(entries.begin(), entries.end());
  return log.empty() ? std::vector<std::string>() : entries;
}

// A monitor for MARIA (or `name`) calling GravaPedido from CAIXA on PDV01.
struct TMonitor : TExecuteEvent {
  TMonitor(TADOConnection& c, platform::Clock& clock, const char* name = "MARIA") : TExecuteEvent(c, clock) {
    Identity() = {name, "PDV01", "CAIXA", "GravaPedido"};
  }
};

// Data module "dmVendas" on a fresh SQLite database holding order 42 in PEDIDO, through
// the embedded driver or ODBC (the connection string before the file name); the clock
// stands at 14:03:27 on 5 December 2026.
class ExecuteEventTest : public testing::DiagnosticsSandbox, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    platform::SetShortDateFormat("dd/MM/yyyy", '/');
    module.SetName("dmVendas");
    connection.SetConnectionString(GetParam() + database.DriverFile());
    connection.Execute("CREATE TABLE PEDIDO (ID INTEGER, SITUACAO VARCHAR(1))");
    connection.Execute("INSERT INTO PEDIDO VALUES (42, 'A')");
  }
  void TearDown() override {
    connection.Close();
    DiagnosticsSandbox::TearDown();
  }
  // A statement of the data module whose parameter ID holds 42.
  template <class T>
  T& Add(const std::string& text) {
    T& component = module.CreateComponent<T>();
    component.SetConnection(&connection);
    if constexpr (std::is_same_v<T, TADOQuery>) component.SQL().SetText(text);
    else component.SetCommandText(text);
    component.Parameters().ParamByName("ID").SetValue(42);
    return component;
  }
  TADOCommand& Update(const std::string& table = "PEDIDO") {
    auto& command = Add<TADOCommand>("update " + table + " set SITUACAO = :SITUACAO where ID = :ID");
    command.Parameters().ParamByName("SITUACAO").SetValue("F");
    return command;
  }
  // The day's log, the missing table worded as the embedded driver does (ODBC adds its code).
  std::string Log(const std::string& identity = "", const char* kind = "Monitor", int day = 5) const {
    const std::string path = LogDir() + ModuleShortName() + "_" + identity + "2026120" + std::to_string(day) + "_" + kind;
    return std::regex_replace(ReadFile(path + ".log"), std::regex("(no such table: PEDIDOX).+"), "$1");
  }

  const ::qar::testing::TScratchDatabase database{GetParam()[0] == 'P' ? "event_embedded.db" : "event_odbc.db"};
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  platform::SimulatedClock clock{At(14, 3, 27)};
};

// Failures of operators who are not monitored go to the error log, named at level 1:
// with the monitor off, and on at level 4 for somebody else (a stored procedure's
// failure, told without an error object). Then, monitored: a command; a failing query,
// found by its rewritten text (the first of two such); a blank operator's query; a
// stored procedure (on a recorded session: SQLite has none).
TEST_P(ExecuteEventTest, EntriesMatchTheGoldens) {
  Store("SqlMonitor=#0|TmpFileDir=" + LogDir());
  { TMonitor monitor(connection, clock); EXPECT_THROW(Update("PEDIDOX").Execute(), EDataError); }
  clock.Advance(1s);
  { TMonitor blank(connection, clock, ""); EXPECT_THROW(Add<TADOQuery>("select * from PEDIDOX where ID = :ID").Open(), EDataError); }
  Store("SqlMonitor=#4|SqlMonUser=PEDRO|TmpFileDir=" + LogDir());
  TADOCommand& failed = module.CreateComponent<TADOCommand>();
  failed.SetCommandType(cmdStoredProc);
  failed.SetCommandText("SP_BAIXA");
  failed.Parameters().CreateParameter("CODIGO", ftInteger, pdInput, 0, Variant::Null());
  failed.Parameters().CreateParameter("SALDO", ftFloat, pdInputOutput, 0, 2.5);
  clock.Advance(1s);
  TEventStatus status = esErrorsOccured;
  TMonitor(connection, clock).HandleExecuteComplete(connection, -1, nullptr, status, &failed.CommandObject(), nullptr);
  EXPECT_EQ(status, esErrorsOccured);
  EXPECT_EQ(Log("", "Error"), Golden("unmonitored_error.txt"));

  MonitorEverybody(1);
  clock.Set(At(14, 3, 27));
  // Installed before the monitor: the statement takes a second after its entry.
  connection.OnWillExecute = TWillExecuteEvent::FromFunction([this](auto&&...) { clock.Advance(1s); });
  { TMonitor monitor(connection, clock); EXPECT_EQ(Update().Execute(), 1); }
  connection.OnWillExecute = nullptr;
  clock.Set(At(14, 3, 27));
  const std::string failingText = "select SITUACAO from PEDIDOX\r\n where ID = :ID and SITUACAO <> :SITUACAO";
  auto& failing = Add<TADOQuery>(failingText);
  failing.Parameters().ParamByName("SITUACAO").SetValue("C");
  Add<TADOQuery>(failingText).Parameters().ParamByName("SITUACAO").SetValue("X");
  { TMonitor monitor(connection, clock); EXPECT_THROW(failing.Open(), EDataError); }
  { TMonitor blank(connection, clock, " \t"); Add<TADOQuery>("select SITUACAO from PEDIDO where ID = :ID").Open(); }

  module.SetName("dmEstoque");
  connection.Close();
  connection.ConnectionObject()->SetSessionFactory(qar::testing::RecordingFactory(std::make_shared<qar::testing::Recording>()));
  auto& procedure = module.CreateComponent<TADOStoredProc>();
  procedure.SetConnection(&connection);
  procedure.SetProcedureName("SP_GRAVA_PEDIDO");
  const std::tuple<const char*, TParameterDirection, Variant> parameters[] = {
      {"RETURN_VALUE", pdReturnValue, Variant()}, {"CODIGO", pdInput, Variant::Null()},
      {"DATA", pdInput, Variant::FromDate(At(14, 3, 27))}, {"TOTAL", pdOutput, Variant()}, {"SALDO", pdInputOutput, 10.5},
      {"ORIGEM", pdUnknown, "PDV"}, {"OUTRO", static_cast<TParameterDirection>(5), "x"}};
  for (const auto& [name, direction, value] : parameters)
    procedure.Parameters().CreateParameter(name, ftUnknown, direction, 0, value);
  clock.Set(At(9, 15, 0));
  connection.Open();
  { TMonitor monitor(connection, clock); procedure.ExecProc(); }
  EXPECT_EQ(Log(), Golden("statement_monitor.txt") + Golden("failure_monitor.txt") +
                       Golden("blank_operator_monitor.txt") + Golden("procedure_monitor.txt"));
  EXPECT_EQ(Files(LogDir()), 2);
}

// A value without a text form ends its entry; the statement still runs. Each entry goes
// to the file of its day and caller; a log that cannot be written stops nothing.
TEST_P(ExecuteEventTest, AValueWithoutTextFormEndsTheEntryAndTheStatementStillRuns) {
  MonitorEverybody(2);
  TADOCommand& update = Update();
  const Variant picture = Variant::FromObject(std::make_shared<int>(0));
  update.Parameters().CreateParameter("FOTO", ftUnknown, pdInput, 0, picture);  // bound to no marker
  TMonitor monitor(connection, clock);
  EXPECT_EQ(update.Execute(), 1);
  const std::string golden = Golden("statement_monitor.txt");
  EXPECT_EQ(Log("MARIA_"), golden.substr(0, golden.find("\r\n\r\nT\xE9rmino") + 2) + "T\xE9rmino de Execu\xE7\xE3o: 14:03:27\r\n\r\n");
  // A text without markers has no parameter block, whatever the collection holds.
  update.SetCommandText("update PEDIDO set SITUACAO = 'G'");
  update.Parameters().CreateParameter("FOTO", ftUnknown, pdInput, 0, picture);
  EXPECT_EQ(update.Execute(), 1);
  EXPECT_TRUE(Entries(Log("MARIA_"))[0].ends_with("SQL: \r\n   update PEDIDO set SITUACAO = 'G'\r\n"));

  clock.Set(At(0, 0, 1, 6));
  update.Execute();
  monitor.Identity().Operator = "JOS\xC9";  // an ANSI name keeps its letter on every system
  update.Execute();
  EXPECT_EQ(Entries(Log("MARIA_", "Monitor", 6)).size(), 2u);
  EXPECT_EQ(Entries(Log("JOS\xC9_", "Monitor", 6)).size(), 2u);

  Store("SqlMonitor=#1|TmpFileDir=" + Dir() + "missing" + platform::kPathDelim);
  connection.Close();
  EXPECT_EQ(update.Execute(), 1);  // the connect too
  EXPECT_EQ(Files(LogDir()), 3);
}

// Saved handlers run once each, after the monitor, with the arguments as received (a
// text they change is the one that runs), and come back when it goes, whatever holds
// the slots by then; what they raise reaches the caller unchanged, after the monitor's
// entry. With nothing saved, nothing is chained and nothing is left behind.
TEST_P(ExecuteEventTest, SavedHandlersGetTheArgumentsAsReceivedAndComeBack) {
  Store("SqlMonitor=#1|SqlMonUser=PEDRO|TmpFileDir=" + LogDir());  // MARIA's successes write nothing
  TADOCommand& update = Update();
  std::ostringstream calls;
  auto record = [&](TADOConnection& c, auto&&... args) { ((calls << &c) << ... << args) << ";"; };
  connection.OnConnectComplete = TConnectCompleteEvent::FromFunction(record);
  connection.OnWillExecute = TWillExecuteEvent::FromFunction([&](TADOConnection& c, std::string& text, auto&&... args) {
    record(c, text, args...);
    text += " and 1 = 0";
  });
  connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(record);
  auto run = [&] { calls.str(""); connection.Close(); calls << update.Execute(); return calls.str(); };
  const std::string alone = run();
  EXPECT_TRUE(alone.ends_with(";0")) << alone;
  {
    TMonitor monitor(connection, clock);
    EXPECT_EQ(run(), alone);
    connection.OnConnectComplete = nullptr;  // something else takes the slots
    connection.OnWillExecute = nullptr;
    connection.OnExecuteComplete = nullptr;
  }
  EXPECT_EQ(run(), alone);
  EXPECT_EQ(Files(LogDir()), 0);

  MonitorEverybody(1);
  struct Refusal {};
  connection.OnWillExecute = TWillExecuteEvent::FromFunction([](auto&&...) { throw Refusal{}; });
  { TMonitor monitor(connection, clock); EXPECT_THROW(update.Execute(), Refusal); }
  EXPECT_EQ(Entries(Log()).size(), 1u);

  TADOConnection bare;
  bare.SetConnectionString(connection.ConnectionString());
  { TMonitor monitor(bare, clock); bare.Execute("SELECT 1"); }
  EXPECT_FALSE(bare.OnConnectComplete || bare.OnWillExecute || bare.OnExecuteComplete);
}

// Eight connections, each with its own monitor, log to the same file: on eight threads
// (day 6) the entries are those of the same work done one after another (day 5).
TEST_P(ExecuteEventTest, EightThreadsAppendWholeEntriesAndLoseNone) {
  MonitorEverybody(1);
  auto work = [this](int thread, int day) {
    TComponent dm;
    dm.SetName("dm" + std::to_string(thread));
    auto& own = dm.CreateComponent<TADOConnection>();
    own.SetConnectionString(connection.ConnectionString());
    auto& query = dm.CreateComponent<TADOQuery>();
    query.SetConnection(&own);
    query.SQL().Add("select SITUACAO from PEDIDO where ID = :ID");
    platform::SimulatedClock ownClock(At(14, 3, 27, day));
    TMonitor monitor(own, ownClock);
    for (int i = 0; i < 20; ++i) {
      query.Parameters().ParamByName("ID").SetValue(thread * 100 + i);
      query.Open();
      query.Close();
    }
  };
  for (int t = 0; t < 8; ++t) work(t, 5);
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t) threads.emplace_back(work, t, 6);
  }
  EXPECT_EQ(Entries(Log()).size(), 8 * 41u);  // a connect, then 20 statements before and after
  EXPECT_EQ(Entries(Log("", "Monitor", 6)), Entries(Log()));
}

INSTANTIATE_TEST_SUITE_P(Drivers, ExecuteEventTest, ::testing::Values("Provider=SQLite;Data Source=", "Driver=SQLite3;Database="),
                         [](const auto& info) { return info.param[0] == 'P' ? "embedded" : "odbc"; });

}  // namespace
}  // namespace qar::diagnostics
