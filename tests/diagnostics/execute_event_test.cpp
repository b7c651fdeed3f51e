// The SQL execution monitor on real statements: byte-exact entries, chaining, failures, threads.
#include "diagnostics/execute_event.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "../data/recording_session.h"
#include "data/ado_command.h"
#include "data/ado_query.h"
#include "data/ado_stored_proc.h"
#include "data/data_error.h"
#include "diagnostics/log_captions.h"
#include "diagnostics/log_file_name.h"
#include "diagnostics_sandbox.h"

namespace qar::diagnostics {
namespace {

using namespace std::chrono_literals;
using testing::Golden;

platform::TDateTime At(int hour, int minute, int second) {
  return platform::EncodeDateTime({2026, 12, 5, hour, minute, second, 0});
}

// A monitor for MARIA (or `operatorName`) calling GravaPedido from CAIXA on PDV01.
struct TMonitor : TExecuteEvent {
  TMonitor(TADOConnection& connection, platform::Clock& clock, const char* operatorName = "MARIA")
      : TExecuteEvent(connection, clock) {
    Identity() = {operatorName, "PDV01", "CAIXA", "GravaPedido"};
  }
};

// The embedded driver's text for the failures below. The ODBC driver appends its code
// ("... (1)"), so the golden files are compared with the caller's text in its place.
constexpr std::string_view kNoSuchTable = "no such table: PEDIDOX";

std::string GoldenAsReported(const std::string& name, const std::string& reported) {
  std::string text = Golden(name);
  for (auto pos = text.find(kNoSuchTable); pos != std::string::npos; pos = text.find(kNoSuchTable, pos + 1))
    text.replace(pos, kNoSuchTable.size(), reported);
  return text;
}

template <class Statement>
std::string FailureOf(Statement&& statement) {
  try {
    statement();
  } catch (const EDataError& error) {
    EXPECT_EQ(std::string_view(error.what()).substr(0, kNoSuchTable.size()), kNoSuchTable);
    return error.what();
  }
  ADD_FAILURE() << "the statement did not fail";
  return {};
}

// The entries of a log, sorted: each starts at a line of 90 "=" (connect) or 90 "-"
// (before execution) or at "Término de Execução: " (after execution).
std::vector<std::string> Entries(const std::string& log) {
  const std::string starts[] = {std::string(90, '=') + "\r\n", std::string(90, '-') + "\r\n",
                                std::string(captions::kExecutionEnd)};
  std::vector<std::string> entries;
  std::size_t start = 0;
  for (std::size_t pos = 0; pos < log.size();) {
    for (const auto& s : starts) {
      if (pos > start && log.compare(pos, s.size(), s) == 0) {
        entries.push_back(log.substr(start, pos - start));
        start = pos;
      }
    }
    const std::size_t lineEnd = log.find("\r\n", pos);
    pos = lineEnd == std::string::npos ? log.size() : lineEnd + 2;
  }
  if (start < log.size()) entries.push_back(log.substr(start));
  std::sort(entries.begin(), entries.end());
  return entries;
}

struct DriverCase {
  const char* name;
  const char* prefix;  // connection string before the database file name
};

// Data module "dmVendas" on a fresh SQLite database holding order 42 in PEDIDO; the
// clock stands at 14:03:27 on 5 December 2026.
class ExecuteEventTest : public testing::DiagnosticsSandbox,
                         public ::testing::WithParamInterface<DriverCase> {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    platform::SetShortDateFormat("dd/MM/yyyy", '/');
    module.SetName("dmVendas");
    // Relative: under Wine the host's ODBC driver resolves it in the same directory.
    std::remove(database_.c_str());
    connection.SetConnectionString(GetParam().prefix + database_);
    try {
      connection.Execute("CREATE TABLE PEDIDO (ID INTEGER, SITUACAO VARCHAR(1))");
    } catch (const EDataError& error) {
      if (error.SqlState() == "IM002" || error.SqlState() == "IM003")
        GTEST_SKIP() << "ODBC driver not installed: " << error.what();
      throw;
    }
    connection.Execute("INSERT INTO PEDIDO VALUES (42, 'A')");
  }
  void TearDown() override {
    connection.Close();
    std::remove(database_.c_str());
    DiagnosticsSandbox::TearDown();
  }

  TADOCommand& Update(const std::string& table = "PEDIDO") {
    TADOCommand& command = module.CreateComponent<TADOCommand>();
    command.SetConnection(&connection);
    command.SetCommandText("update " + table + " set SITUACAO = :SITUACAO where ID = :ID");
    command.Parameters().ParamByName("SITUACAO").SetValue("F");
    command.Parameters().ParamByName("ID").SetValue(42);
    return command;
  }
  TADOQuery& Query(const char* text, const char* parameter, Variant value) {
    TADOQuery& query = module.CreateComponent<TADOQuery>();
    query.SetConnection(&connection);
    query.SQL().SetText(text);
    query.Parameters().ParamByName(parameter).SetValue(std::move(value));
    return query;
  }
  std::string Log(const std::string& identity = "", const char* kind = "Monitor") const {
    return LogDir() + ModuleShortName() + "_" + identity + "20261205_" + kind + ".log";
  }

  std::string database_ = std::string("qar_execute_event_") + GetParam().name + ".db";
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  platform::SimulatedClock clock{At(14, 3, 27)};
};

TEST_P(ExecuteEventTest, MonitoredStatementMatchesTheGolden) {
  MonitorEverybody(4);
  TADOCommand& update = Update();
  // Installed before the monitor: the statement takes a second after its entry.
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [this](TADOConnection&, std::string&, TCursorType&, TADOLockType&, TCommandType&,
             TExecuteOptions&, TEventStatus&, TADOCommandObject*, TCustomADODataSet*) { clock.Advance(1s); });
  TMonitor monitor(connection, clock);
  EXPECT_EQ(update.Execute(), 1);
  EXPECT_EQ(ReadFile(Log("PDV01_CAIXA_MARIA_")), Golden("statement_monitor.log"));
  EXPECT_EQ(FileNames(LogDir()).size(), 1u);
}

// The query is found by its rewritten text; its failure goes to the monitor log only.
TEST_P(ExecuteEventTest, MonitoredFailureMatchesTheGolden) {
  MonitorEverybody(1);
  TADOQuery& query = Query("select SITUACAO from PEDIDOX\r\n where ID = :ID and SITUACAO <> :SITUACAO", "ID", 42);
  query.Parameters().ParamByName("SITUACAO").SetValue("C");
  TMonitor monitor(connection, clock);
  const std::string reported = FailureOf([&] { query.Open(); });
  EXPECT_EQ(ReadFile(Log()), GoldenAsReported("failure_monitor.log", reported));
  EXPECT_EQ(FileNames(LogDir()).size(), 1u);
}

TEST_P(ExecuteEventTest, BlankOperatorHasNoOperatorLines) {
  MonitorEverybody(2);
  TADOQuery& query = Query("select SITUACAO from PEDIDO where ID = :ID", "ID", 42);
  TMonitor monitor(connection, clock, " \t");
  query.Open();
  EXPECT_EQ(query.FieldByName("SITUACAO").AsString(), "A");
  EXPECT_EQ(ReadFile(Log()), Golden("blank_operator_monitor.log"));
}

// Failures of operators who are not monitored go to the error log, named at level 1:
// with the monitor off, and with the monitor on at level 4 for somebody else.
TEST_P(ExecuteEventTest, UnmonitoredFailuresMatchTheGolden) {
  SetInteger("SqlMonitor", 0);
  SetString("TmpFileDir", LogDir());
  TADOCommand& update = Update("PEDIDOX");
  TADOQuery& query = Query("select * from PEDIDOX where ID = :ID", "ID", 42);
  std::string reported;
  {
    TMonitor monitor(connection, clock);
    reported = FailureOf([&] { update.Execute(); });
  }
  clock.Advance(1s);
  {
    TMonitor blank(connection, clock, "");
    FailureOf([&] { query.Open(); });
  }
  ResetMonitorSettingsForTest();
  MonitorEverybody(4);
  SetString("SqlMonUser", "PEDRO");
  // A stored procedure's failure, told without an error object.
  TADOCommand& procedure = module.CreateComponent<TADOCommand>();
  procedure.SetCommandType(cmdStoredProc);
  procedure.SetCommandText("SP_BAIXA");
  procedure.Parameters().CreateParameter("CODIGO", ftInteger, pdInput, 0, Variant::Null());
  procedure.Parameters().CreateParameter("SALDO", ftFloat, pdInputOutput, 0, 2.5);
  TMonitor monitor(connection, clock);
  clock.Advance(1s);
  TEventStatus status = esErrorsOccured;
  monitor.HandleExecuteComplete(connection, -1, nullptr, status, &procedure.CommandObject(), nullptr);
  EXPECT_EQ(status, esErrorsOccured);

  EXPECT_EQ(FileNames(LogDir()), std::vector<std::string>{ModuleShortName() + "_20261205_Error.log"});
  EXPECT_EQ(ReadFile(Log("", "Error")), GoldenAsReported("unmonitored_error.log", reported));
}

TEST_P(ExecuteEventTest, AValueWithoutTextFormEndsTheEntryAndTheStatementStillRuns) {
  MonitorEverybody(1);
  TADOCommand& update = Update();
  const Variant picture = Variant::FromObject(std::make_shared<int>(0));
  update.Parameters().CreateParameter("FOTO", ftUnknown, pdInput, 0, picture);  // bound to no marker
  TMonitor monitor(connection, clock);
  EXPECT_EQ(update.Execute(), 1);
  const std::string golden = Golden("statement_monitor.log");
  EXPECT_EQ(ReadFile(Log()), golden.substr(0, golden.find("\r\n\r\nT\xE9rmino") + 2) +
                                 "T\xE9rmino de Execu\xE7\xE3o: 14:03:27\r\n\r\n");

  // A text without markers has no parameter block, whatever the collection holds.
  update.SetCommandText("update PEDIDO set SITUACAO = 'G'");
  update.Parameters().CreateParameter("FOTO", ftUnknown, pdInput, 0, picture);
  EXPECT_EQ(update.Execute(), 1);
  const std::vector<std::string> entries = Entries(ReadFile(Log()));
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_TRUE(entries[0].ends_with("SQL: \r\n   update PEDIDO set SITUACAO = 'G'\r\n\r\n")) << entries[0];

  // A log that cannot be written: the statement runs all the same.
  ResetMonitorSettingsForTest();
  SetInteger("SqlMonitor", 1);
  SetString("TmpFileDir", Dir() + "missing" + platform::kPathDelim);
  EXPECT_EQ(update.Execute(), 1);
  EXPECT_FALSE(Exists(Dir() + "missing"));
  EXPECT_EQ(Entries(ReadFile(Log())).size(), 4u);
}

// Eight connections, each with its own monitor on its own thread, log to the same
// file: the entries are those of the same work done one connection after another.
TEST_P(ExecuteEventTest, EightThreadsAppendWholeEntriesAndLoseNone) {
  MonitorEverybody(4);
  constexpr int kThreads = 8;
  auto work = [this](int thread) {
    TComponent dm;
    dm.SetName("dm" + std::to_string(thread));
    auto& own = dm.CreateComponent<TADOConnection>();
    own.SetConnectionString(GetParam().prefix + database_);
    auto& query = dm.CreateComponent<TADOQuery>();
    query.SetConnection(&own);
    query.SQL().Add("select SITUACAO from PEDIDO where ID = :ID");
    platform::SimulatedClock ownClock(At(14, 3, 27));
    TMonitor monitor(own, ownClock);
    for (int i = 0; i < 20; ++i) {
      query.Parameters().ParamByName("ID").SetValue(thread * 100 + i);
      query.Open();
      query.Close();
    }
  };
  const std::string log = Log("PDV01_CAIXA_MARIA_");
  for (int t = 0; t < kThreads; ++t) work(t);
  const std::vector<std::string> expected = Entries(ReadFile(log));
  ASSERT_EQ(expected.size(), kThreads * 41u);  // a connect, then 20 statements before and after
  std::filesystem::remove(platform::ToNativePath(log));
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  }
  EXPECT_EQ(Entries(ReadFile(log)), expected);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ExecuteEventTest,
                         ::testing::Values(DriverCase{"embedded", "Provider=SQLite;Data Source="},
                                           DriverCase{"odbc", "Driver=SQLite3;Database="}),
                         [](const auto& info) { return std::string(info.param.name); });

// Data module "dmEstoque" on a recorded session (SQLite has no stored procedures).
class ExecuteEventRecordedTest : public testing::DiagnosticsSandbox {
 protected:
  ExecuteEventRecordedTest() {
    module.SetName("dmEstoque");
    connection.SetName("adcEstoque");
    connection.ConnectionObject()->SetSessionFactory(qar::testing::RecordingFactory(recording));
    update.SetConnection(&connection);
    update.SetCommandText("UPDATE T SET A = :A");
  }
  std::string Log() const { return LogDir() + ModuleShortName() + "_20261205_Monitor.log"; }

  std::shared_ptr<qar::testing::Recording> recording = std::make_shared<qar::testing::Recording>();
  TComponent module;
  TADOConnection& connection = module.CreateComponent<TADOConnection>();
  TADOCommand& update = module.CreateComponent<TADOCommand>();
  platform::SimulatedClock clock{At(9, 15, 0)};
};

TEST_F(ExecuteEventRecordedTest, StoredProcedureMatchesTheGolden) {
  MonitorEverybody(1);
  platform::SetShortDateFormat("dd/MM/yyyy", '/');
  auto& procedure = module.CreateComponent<TADOStoredProc>();
  procedure.SetConnection(&connection);
  procedure.SetProcedureName("SP_GRAVA_PEDIDO");
  TParameters& parameters = procedure.Parameters();
  parameters.CreateParameter("RETURN_VALUE", ftInteger, pdReturnValue, 0, Variant());
  parameters.CreateParameter("CODIGO", ftInteger, pdInput, 0, Variant::Null());
  parameters.CreateParameter("DATA", ftDateTime, pdInput, 0, Variant::FromDate(At(14, 3, 27)));
  parameters.CreateParameter("TOTAL", ftInteger, pdOutput, 0, Variant());
  parameters.CreateParameter("SALDO", ftFloat, pdInputOutput, 0, 10.5);
  parameters.CreateParameter("ORIGEM", ftString, pdUnknown, 0, "PDV");
  parameters.CreateParameter("OUTRO", ftString, static_cast<TParameterDirection>(5), 0, "x");
  connection.Open();
  TMonitor monitor(connection, clock);
  procedure.ExecProc();
  EXPECT_EQ(ReadFile(Log()), Golden("procedure_monitor.log"));
}

TEST_F(ExecuteEventRecordedTest, EachEntryGoesToTheFileOfItsDayAndCaller) {
  MonitorEverybody(2);
  connection.Open();
  TMonitor monitor(connection, clock);
  update.Execute();
  clock.Set(At(0, 0, 1) + 1);  // the next day
  update.Execute();
  monitor.Identity().Operator = "JOSE";
  update.Execute();
  const std::string m = ModuleShortName();
  EXPECT_EQ(FileNames(LogDir()), (std::vector<std::string>{m + "_JOSE_20261206_Monitor.log", m + "_MARIA_20261205_Monitor.log",
                                                           m + "_MARIA_20261206_Monitor.log"}));
}

TEST_F(ExecuteEventRecordedTest, SavedHandlersAreCalledOnceWithTheArgumentsAsReceivedAndPutBack) {
  SetInteger("SqlMonitor", 1);
  SetString("SqlMonUser", "PEDRO");  // MARIA is not monitored
  SetString("TmpFileDir", LogDir());
  std::vector<std::string> calls;
  auto own = [&](TADOCommandObject* command) { return command == &update.CommandObject() ? ":own" : ""; };
  connection.OnConnectComplete = TConnectCompleteEvent::FromFunction(
      [&](TADOConnection& c, const TADOError* error, TEventStatus& status) {
        calls.push_back("connect:" + c.Name() + ":" + std::to_string(status) + (error ? "!" : ""));
      });
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [&](TADOConnection&, std::string& text, TCursorType&, TADOLockType&, TCommandType& type,
          TExecuteOptions&, TEventStatus& status, TADOCommandObject* command, TCustomADODataSet*) {
        calls.push_back("will:" + text + ":" + std::to_string(type) + ":" + std::to_string(status) + own(command));
        text += " -- visto";  // in/out arguments are the statement's own
      });
  connection.OnExecuteComplete = TExecuteCompleteEvent::FromFunction(
      [&](TADOConnection&, std::int64_t affected, const TADOError*, TEventStatus& status,
          TADOCommandObject* command, TCustomADODataSet*) {
        calls.push_back("complete:" + std::to_string(affected) + ":" + std::to_string(status) + own(command));
      });
  recording->result.rowsAffected = 3;
  const std::vector<std::string> statement = {"will:UPDATE T SET A = ?:1:0:own", "complete:3:0:own"};
  {
    TMonitor monitor(connection, clock);
    EXPECT_EQ(update.Execute(), 3);
    EXPECT_EQ(calls, (std::vector<std::string>{"connect:adcEstoque:0", statement[0], statement[1]}));
    EXPECT_EQ(recording->calls.back().text, "UPDATE T SET A = ? -- visto");
    connection.OnConnectComplete = nullptr;  // something else takes the slots
    connection.OnWillExecute = nullptr;
    connection.OnExecuteComplete = nullptr;
  }
  EXPECT_TRUE(FileNames(LogDir()).empty());
  calls.clear();
  update.Execute();
  EXPECT_EQ(calls, statement);

  // With nothing installed before it, nothing is chained and nothing is left behind.
  TADOConnection bare;
  bare.ConnectionObject()->SetSessionFactory(qar::testing::RecordingFactory(recording));
  { TMonitor monitor(bare, clock); bare.Execute("SELECT 1"); }
  EXPECT_FALSE(bare.OnConnectComplete || bare.OnWillExecute || bare.OnExecuteComplete);
}

TEST_F(ExecuteEventRecordedTest, AFailureOfASavedHandlerReachesTheCallerUnchanged) {
  MonitorEverybody(1);
  struct Refusal {};
  connection.OnWillExecute = TWillExecuteEvent::FromFunction(
      [](TADOConnection&, std::string&, TCursorType&, TADOLockType&, TCommandType&,
         TExecuteOptions&, TEventStatus&, TADOCommandObject*, TCustomADODataSet*) { throw Refusal{}; });
  connection.Open();
  TMonitor monitor(connection, clock);
  EXPECT_THROW(update.Execute(), Refusal);
  EXPECT_TRUE(recording->calls.empty());
  const std::string log = ReadFile(Log());
  EXPECT_EQ(Entries(log).size(), 1u);
  EXPECT_NE(log.find("   UPDATE T SET A = ?\r\n"), std::string::npos) << log;
}

// Without a command object the parameters come from the first component whose text
// matches: commands before data sets, lower index first, ignoring letter case.
TEST(FindParametersForTextTest, FirstMatchingComponentInSearchOrder) {
  TComponent dm;
  auto& connection = dm.CreateComponent<TADOConnection>();
  auto attach = [&](auto& component) -> auto& {
    component.SetConnection(&connection);
    return component;
  };
  auto& first = attach(dm.CreateComponent<TADOCommand>());
  first.SetCommandText("update T set A = :A");
  attach(dm.CreateComponent<TADOCommand>()).SetCommandText("UPDATE t SET a = :X");
  auto& query = attach(dm.CreateComponent<TADOQuery>());
  query.SQL().Add("select \xE7 from T where B = :B");
  auto& sameAsCommand = attach(dm.CreateComponent<TADOQuery>());
  sameAsCommand.SQL().SetText("update T set A = :A");
  auto& procedure = attach(dm.CreateComponent<TADOStoredProc>());
  procedure.SetProcedureName("SP_Grava");
  attach(dm.CreateComponent<TADOStoredProc>()).SetProcedureName("sp_grava");

  const struct {
    std::string text;
    TParameters* expected;
  } cases[] = {
      {"UPDATE T SET A = ?", &first.Parameters()},
      {std::string("update T set A = ?\0trailer", 26), &first.Parameters()},
      {"update T set A = ?\r\n", &static_cast<TCustomADODataSet&>(sameAsCommand).Parameters()},
      {"SELECT \xC7 FROM T WHERE B = ?\r\n", &static_cast<TCustomADODataSet&>(query).Parameters()},
      {"sp_grava", &procedure.Parameters()},
      {"update T set A = :A", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(TExecuteEvent::FindParametersForText(connection, c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace qar::diagnostics
