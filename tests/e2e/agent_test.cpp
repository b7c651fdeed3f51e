// The agent end to end on every system: start-up, settings, QarCfg, dispatch and supervision under faults.
#include <gtest/gtest.h>

#include <tuple>

#include "agent_fixture.h"
#include "config/GeralQar.h"
#include "state/run_counters.h"
#include "state/state_store.h"

namespace qar::e2e {
namespace {

using AgentTest = AgentCase;

// A second start reads and decrypts the settings before it meets the mutex; the
// first agent read them once and goes on with them.
TEST_F(AgentTest, StartsOnceTakesNoOtherArgumentsAndNamesSettingsThatCannotBeRead) {
  EXPECT_ANY_THROW(Field("SELECT COUNT(*) AS F FROM CTRLEXECREM"));
  // The worker reports to the first database whatever is stored meanwhile.
  installation_.ConfigureWorker({"status=OK", "connection=" + SqliteConnectionString(installation_.DatabaseFile())});
  ChildProcess& first = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  const std::string settings = config::SettingsLocation();
  EXPECT_NE(AgentLog().find(" started, pid " + std::to_string(first.Pid()) + ", settings " + settings +
                            ", database Provider=SQLite;Data Source="), npos) << AgentLog();
  // A second agent ends at once saying who holds the installation; --version and --help print and end.
  for (const auto& [argument, code, stream, text] : {std::tuple{"", 0, "err", "an agent already runs for user "},
                                                     {"--version", 0, "out", "QarSnc.exe "},
                                                     {"--help", 0, "out", "Usage: "}, {"-x", 2, "err", "unknown argument"}}) {
    EXPECT_EQ(StartAgent(*argument ? std::vector<std::string>{argument} : std::vector<std::string>{}).Wait(kBound), code);
    const std::string output = AgentLog(agents_.size() - 1, stream);
    EXPECT_TRUE(*text ? output.find(text) != npos : output.empty()) << argument << ": " << output;
  }
  // A value that does not decrypt, or a damaged settings file, stops the start with
  // a message that names the settings and never quotes them.
  const std::string password = "Password=NotEncrypted42";
  installation_.StoreStringConex("Provider=SQLite;Data Source=plain.db;" + password);
  EXPECT_EQ(StartAgent().Wait(kBound), 1);
  EXPECT_NE(AgentLog(5).find("in " + settings + " does not decrypt"), npos) << AgentLog(5);
  EXPECT_EQ(AgentLog(5).find(password), npos) << AgentLog(5);
  if (settings.ends_with(".reg")) {  // a settings file (POSIX) can be damaged
    std::ofstream(settings, std::ios::trunc) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\x\n";
    EXPECT_EQ(StartAgent().Wait(kBound), 1);
    EXPECT_NE(AgentLog(6).find("the settings in " + settings + " cannot be read: "), npos) << AgentLog(6);
  }
  const int request = Request("111", "01");
  EXPECT_TRUE(WaitForStatus(request, "OK")) << AgentLog();
  EXPECT_TRUE(first.Running());
}

// Without a stored string the agent names the settings and polls on. QarCfg stores
// the string, and tells what the agent does while it runs each row once.
TEST_F(AgentTest, QarCfgStoresTheStringAndTellsWhatTheAgentDoesWhileItRunsEachRowOnce) {
  installation_.RemoveStringConex();
  ChildProcess& unset = StartAgent();
  // The start's errors (no string, no connect), then a tick's.
  EXPECT_TRUE(WaitUntil([&] { return ErrorCount() >= 3; }, kBound)) << AgentLog();
  EXPECT_NE(AgentLog().find("error: no connection string: " + config::SettingsLocation()), npos) << AgentLog();
  EXPECT_TRUE(unset.Running());
  unset.Stop();
  ASSERT_TRUE(unset.Wait(kBound));

  const std::string password = "Segredo123";
  const ToolRun stored =
      RunAdminTool({"set-connection", "--create", SqliteConnectionString(installation_.DatabaseFile()) + ";Password=" + password});
  ASSERT_EQ(stored.exitCode, 0) << stored.out << stored.err;
  EXPECT_EQ(stored.out.find(password), npos) << stored.out;
  Sql(JoinStatementLines(kCreateTable));
  Sql("INSERT INTO CTRLEXECREM (DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) "
      "VALUES ('x', 'P', datetime('now', 'localtime', '-1 day'))");  // expired, never run
  HoldWorkers();
  const int a = Request("001", "01");
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForWorker(a, "001", "01")) << AgentLog(1);
  ToolRun status;
  EXPECT_TRUE(WaitUntil([&] {
    status = RunAdminTool({"status"});
    return status.out.find("supervises request " + std::to_string(a) + " since ") != npos;
  }, kBound)) << status.out << status.err;
  EXPECT_EQ(status.exitCode, 0);
  EXPECT_NE(status.out.find("Agent:      pid " + std::to_string(agent.Pid()) + ", user "), npos) << status.out;
  EXPECT_NE(status.out.find("Pending:    0 today, 1 expired from earlier days (never run), 1 running"), npos) << status.out;
  EXPECT_NE(RunAdminTool({"list"}).out.find("P (running)"), npos);
  const ToolRun enqueued = RunAdminTool({"enqueue", "--filial", "001", "--caixa", "02"});
  ASSERT_EQ(enqueued.exitCode, 0) << enqueued.err;
  const int c = std::stoi(enqueued.out);
  ReleaseWorkers();
  EXPECT_TRUE(WaitForStatus(a, "OK")) << AgentLog(1);
  EXPECT_TRUE(WaitForStatus(c, "OK")) << AgentLog(1);
  EXPECT_EQ(WorkerStarts(a, "001", "01"), 1u);
  EXPECT_EQ(WorkerStarts(c, "001", "02"), 1u);
  EXPECT_EQ(ErrorCount(1), 0u) << AgentLog(1);
  EXPECT_TRUE(agent.Running());
}

// Locked while a worker runs, the database starts no second worker and loses no
// cancellation. Damaged in place (so that the agent's open connection meets it), it
// fails ticks until it is whole again. Rows that can never start (an id beyond the
// integer parameter, an operation text too long for a command line) are marked with
// the reason, and the rows behind them run.
TEST_F(AgentTest, FaultsOfTheDatabaseOrOfARowNeitherStartASecondWorkerNorLoseACancellationNorStallTheQueue) {
  const RollbackJournalCase journal(installation_);  // an exclusive lock keeps readers out only there
  HoldWorkers();
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentLog();
  const int id = Request("001", "02");
  ASSERT_TRUE(WaitForWorker(id, "001", "02")) << AgentLog();
  {
    const auto lock = Connect();
    lock->Execute("BEGIN EXCLUSIVE");
    ASSERT_TRUE(WaitForLog("request " + std::to_string(id) + ": the row cannot be read while its worker runs"));
  }
  Sql("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'C' WHERE IDCTRLEXECREM = " + std::to_string(id));
  ASSERT_TRUE(WaitForStatus(id, "NOK")) << AgentLog();
  EXPECT_EQ(Row(id, "DSERRO"), "Cancelado pelo operador");
  EXPECT_TRUE(WaitUntil([&] { return RunningWorkers() == 0; }, kBound));
  EXPECT_TRUE(WaitUntil([&] {  // the metrics count the run as cancelled, once the agent wrote its end
    const auto counters = state::TStateStore::OpenForReading(state::StateStorePath()).Counters();
    return state::RunTotals(counters).byOutcome[static_cast<int>(state::TRunOutcome::kCancelled)] == 1;
  }, kBound));

  const std::string content = installation_.ReadText("qar.db");
  const auto overwrite = [&](const std::string& text) {
    std::fstream(platform::ToNativePath(installation_.DatabaseFile()), std::ios::in | std::ios::out | std::ios::binary)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  const std::size_t errors = ErrorCount();
  overwrite(std::string(content.size(), ' ').replace(0, 20, "This is no database."));
  EXPECT_TRUE(WaitUntil([&] { return ErrorCount() > errors; }, kBound)) << AgentLog();
  overwrite(content);

  ReleaseWorkers();
  for (const auto& [row, branch] : {std::pair{100LL, std::string(200 * 1024, '7')}, {101LL, std::string("001")},
                                    {2147483648LL, std::string("001")}}) {
    Sql("INSERT INTO CTRLEXECREM (IDCTRLEXECREM, DSOPERACAO, IDSTCTRLEXECREM) VALUES (" + std::to_string(row) +
        ", '{\"CDFILIAL\":\"" + branch + "\"}', 'P')");
  }
  for (const long long row : {100LL, 2147483648LL}) {
    ASSERT_TRUE(WaitForStatus(row, "NOK")) << row << AgentLog();
    EXPECT_EQ(Row(row, "DSERRO").rfind("N\xE3o iniciado: ", 0), 0u) << Row(row, "DSERRO");
  }
  EXPECT_NE(Row(100, "DSERRO").find("acima do limite"), npos) << Row(100, "DSERRO");
  EXPECT_TRUE(WaitForStatus(101, "OK")) << AgentLog();
  EXPECT_EQ(WorkerStarts(), 2u);  // the cancelled request's and row 101's
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
