// QarCfg's commands run in-process against a scratch registry and a scratch SQLite database.
#include "tools/qarcfg_commands.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "../diagnostics/diagnostics_sandbox.h"
#include "config/GeralQar.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/driver_session.h"
#include "diagnostics/websrv_key.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/secret.h"
#include "scratch_database.h"
#include "state/command_error.h"
#include "state/control_table.h"
#include "state/state_store.h"
#include "tools/admin_settings.h"
#include "tools/serve_command.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

namespace qar::tools {
namespace {

using namespace ::qar::state;

bool HasControlBesidesLineEnds(const std::string& text) {
  return std::ranges::any_of(text, [](unsigned char c) { return c != '\n' && (c < 0x20 || c == 0x7F); });
}

// A scratch registry (see DiagnosticsSandbox) and a scratch SQLite database.
class QarCfgTest : public diagnostics::testing::DiagnosticsSandbox {
 protected:
  int Run(std::vector<std::string> args, const std::string& input = {}) {
    out_.str("");
    err_.str("");
    return RunQarCfg(args, [input](std::string_view) { return input; }, out_, err_);
  }

  // Everything a command could have changed: whether the key exists, and its values.
  static std::string RegistrySnapshot() {
    platform::RegistryKey key;
    const platform::RegStatus open = key.Open(diagnostics::kWebSrvKey, false, platform::RegAccess::kRead);
    std::string snapshot = std::to_string(static_cast<int>(open));
    for (const char* name : {"StringConex", "TunningID", "SqlMonitor", "SqlMonUser", "TmpFileDir"}) {
      std::string text = "-";
      std::int32_t number = -1;
      key.ReadString(name, text);
      key.ReadInteger(name, number);
      snapshot += "\n" + text + "|" + std::to_string(number);
    }
    return snapshot;
  }

  std::string SqliteConnection() const { return "Provider=SQLite;Data Source=" + database_; }

  const ::qar::testing::TScratchDatabase scratch_{"cfg.db"};
  // The tool checks and makes the file itself, and the driver opens it: one name for both.
  const std::string database_ = scratch_.DriverFile();
  std::ostringstream out_;
  std::ostringstream err_;
};

// The string stored from standard input reaches the agent's provider unchanged. show
// reads each setting back by its type (names taken in any case, stored in their own) and
// hides every password as the drivers read it behind one fixed mask.
TEST_F(QarCfgTest, StoredValuesReachTheAgentAndShowHidesEveryPassword) {
  const std::string plain = SqliteConnection() + ";Password=s3cret!";
  ASSERT_EQ(Run({"set-connection", "--create", "-"}, plain + "\r\n"), 0) << err_.str();  // off the command line
  config::InitializeGeralQar();
  const std::string served = config::GetConnectionString("");
  config::FinalizeGeralQar();
  EXPECT_EQ(served, plain);
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"tunningid", "1"}, {"SQLMONITOR", "4"}, {"SqlMonUser", ""}, {"tmpfiledir", LogDir() + "new"}}) {
    EXPECT_EQ(Run({"set", name, value}), 0) << name << err_.str();
  }
  // A log directory that is not there yet is stored, with a warning.
  EXPECT_EQ(out_.str(), "TmpFileDir = " + LogDir() + "new\nwarning: the directory \"" + LogDir() +
                            "new\" does not exist; no log is written until it is made\n");
  ASSERT_EQ(Run({"set", "TmpFileDir", LogDir()}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "TmpFileDir = " + LogDir() + "\n");
  ASSERT_EQ(Run({"show"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("StringConex: " + SqliteConnection() + ";Password=********\nTunningID:   1\n"
                            "SqlMonitor:  4\nSqlMonUser:  (empty)\nTmpFileDir:  " + LogDir() + "\n"),
            std::string::npos) << out_.str();

  // The drivers take "Password =x" as the password and read a quoted or braced value whole,
  // ";" included; a password's own '*' or length must not show either.
  for (const char* tail : {";Password =ab1Kw7q", ";Password=\"ab1;Kw7q\"", ";PWD={ab1;Kw7q};X=1",
                           ";Password=ab1*Kw7q", ";Password=ab1Kw7qab1Kw7qab1Kw7q"}) {
    ASSERT_EQ(Run({"set-connection", SqliteConnection() + tail}), 0) << tail << err_.str();
    const std::string stored = out_.str();
    ASSERT_EQ(Run({"show"}), 0) << tail << err_.str();
    for (const std::string& shown : {stored, out_.str()}) {
      for (const char* secret : {"ab1", "Kw7q", "*********"}) EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
    }
  }
}

TEST_F(QarCfgTest, RefusedInputGetsOneShortLineAndLeavesTheRegistryAsItWas) {
  ASSERT_EQ(Run({"set-connection", "--create", SqliteConnection()}), 0) << err_.str();
  ASSERT_EQ(Run({"set", "TunningID", "1"}), 0) << err_.str();
  const std::string before = RegistrySnapshot();
  const std::string huge(100000, 'x');
  const std::string overLimit(65537, 'u');
  const std::string sqlite = SqliteConnection();

  struct Case { std::vector<std::string> args; int code; std::string input = {}; std::string mentions = {}; };
  const Case cases[] = {
      {{}, 2}, {{"frobnicate\x1b[2J\r"}, 2, {}, "frobnicate\\x1B[2J\\r"}, {{huge}, 2}, {{"show", "extra"}, 2},
      {{"set-connection"}, 2}, {{"set-connection", "not a connection string"}, 2},
      {{"set-connection", "Data Source=x.db;Password=p"}, 2},  // no provider or driver
      {{"set-connection", "Provider=NoSuchProvider;Data Source=x"}, 2},
      {{"set-connection", "Provider=SQLite;Password=p"}, 2},  // no database file
      {{"set-connection", sqlite + ";Password=p\nq"}, 2, {}, "\\n"},
      {{"set-connection", "-"}, 2, sqlite + "\n;Password=p\n"}, {{"set-connection", "-"}, 2, "\n"},
      {{"set-connection", "Provider=SQLite;Data Source=no_such_dir/sub/x.db"}, 1, {}, "no_such_dir/sub/x.db"},
      {{"set-connection", "--create", "Provider=SQLite;Data Source=no_such_dir/x.db"}, 1, {}, "cannot be created"},
      {{"set", "TunningID"}, 2}, {{"set", "Tuning", "1"}, 2, {}, "TmpFileDir, MaxWorkerRuns, MaxWorkerOutput, ConnectionPooling, PoolMaxIdleSessions, PoolIdleTimeout)"}, {{"set", "SqlMonitor", "-1"}, 2},
      {{"set", "SqlMonitor", "4294967296"}, 2}, {{"set", "SqlMonitor", huge}, 2, {}, "argument 3 holds 100000 characters"},
      {{"set", "SqlMonitor", "5"}, 2, {}, "0 (off) to 4"}, {{"set", "TunningID", "2"}, 2, {}, "0 (off) or 1"},
      {{"set", "PoolMaxIdleSessions", "0"}, 2, {}, "from 1 to 64"},
      {{"set", "SqlMonUser", "ANA\tPEDRO"}, 2, {}, "control character (\\t)"},
      {{"set", "TmpFileDir", "logs"}, 2, {}, "absolute directory"},
      {{"set", "TmpFileDir", Dir() + "a\nb"}, 2, {}, "control character"},
      {{"set", "SqlMonUser", overLimit}, 2, {}, "at most 65536 in one argument or on standard input"},
      {{"set-connection", "-"}, 2, overLimit + "\n", "at most 65536 in one argument or on standard input"},
      {{"set", "TmpFileDir", ""}, 2}, {{"set", "TmpFileDir", std::string(201, 'd')}, 2},
      {{"set", "SqlMonUser", std::string(256, 'u')}, 2}, {{"enqueue", "--filial", "001"}, 2},
      {{"enqueue", "--filial", "001", "--caixa"}, 2}, {{"enqueue", "--filial", "0\"1", "--caixa", "02"}, 2},
      {{"enqueue", "--filial", "001", "--caixa", "0\\2"}, 2}, {{"enqueue", "--filial", "001", "--caixa", "0\n2"}, 2},
      {{"enqueue", "--filial", "0_1", "--caixa", "02"}, 2},
      {{"enqueue", "--filial", std::string(21, '1'), "--caixa", "02"}, 2},
      {{"enqueue", "--filial", "001", "--caixa", huge}, 2}, {{"enqueue", "--filial", "001", huge, "02"}, 2},
      {{"cancel"}, 2}, {{"cancel", "0"}, 2}, {{"cancel", "2147483648"}, 2}, {{"cancel", huge}, 2},
      {{"cancel", "99"}, 1},  // no such request
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown.append("[").append(arg, 0, 40).append("]");
    SCOPED_TRACE(shown);
    EXPECT_EQ(Run(c.args, c.input), c.code);
    const std::string err = err_.str();
    EXPECT_EQ(err.rfind("QarCfg: ", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_FALSE(HasControlBesidesLineEnds(err)) << err;
    EXPECT_LT(err.size(), 400u);
    EXPECT_NE(err.find(c.mentions), std::string::npos) << err;
    EXPECT_EQ(RegistrySnapshot(), before);
  }
  EXPECT_FALSE(std::filesystem::exists("no_such_dir"));
}

// Values another program stored may hold line breaks and terminal controls: show keeps
// one line per value and cannot be made to print a line of its own.
TEST_F(QarCfgTest, ShowPrintsOneEscapedLinePerValue) {
  Store("TmpFileDir=D:\\logs\nStringConex: Provider=Fake\x1b[1A", false);
  Store("StringConex=" + platform::EncryptSecret(SqliteConnection() + ";Password=ab1\nKw7q;X=\r1"), false);
  ASSERT_EQ(Run({"show"}), 0) << err_.str();
  const std::string out = out_.str();
  EXPECT_FALSE(HasControlBesidesLineEnds(out)) << out;
  EXPECT_NE(out.find("TmpFileDir:  D:\\logs\\nStringConex: Provider=Fake\\x1B[1A\n"), std::string::npos) << out;
  EXPECT_NE(out.find(";Password=********;X=\\r1\n"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), platform::RegistryFilePath().empty() ? 11 : 12) << out;
}

// Neither show nor a request creates the key; requests need a stored string, and a value
// that does not decrypt is never printed.
TEST_F(QarCfgTest, ShowAndRequestsWithoutAUsableConnectionString) {
  platform::DeleteRegistryKey(diagnostics::kWebSrvKey);  // Windows: the sandbox keeps the key
  const std::string before = RegistrySnapshot();
  EXPECT_EQ(Run({"show"}), 1);  // says which file it read, and that it is missing
  const std::string file = platform::RegistryFilePath();
  EXPECT_NE(err_.str().find(file.empty() ? "does not exist in " : "the settings file " + file + " does not exist"),
            std::string::npos) << err_.str();
  if (!file.empty()) {
    EXPECT_NE(out_.str().find("Registry file: " + file + " (missing)\n"), std::string::npos);
  }
  EXPECT_EQ(Run({"enqueue", "--filial", "001", "--caixa", "02"}), 1);
  EXPECT_NE(err_.str().find("no connection string is stored in " + SettingsPlace()), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"list"}), 1);
  EXPECT_EQ(RegistrySnapshot(), before);

  Store("StringConex=Provider=SQLOLEDB.1;Password=plain-secret", false);
  EXPECT_EQ(Run({"show"}), 1);
  EXPECT_NE(out_.str().find("StringConex: (stored, but it does not decrypt on this machine)\n"
                            "TunningID:   (not set)\n"), std::string::npos) << out_.str();
  EXPECT_EQ((out_.str() + err_.str()).find("plain-secret"), std::string::npos);
  EXPECT_EQ(err_.str().rfind("QarCfg: StringConex in " + SettingsPlace() + " does not decrypt", 0), 0u) << err_.str();
}

// enqueue creates the table and the agent's own query finds the request. Only a request the
// agent can still start or stop is cancelled; list shows today's requests and the pending
// ones of earlier days, which the agent never starts.
TEST_F(QarCfgTest, EnqueueCancelAndListAmongOtherRequestersRows) {
  ASSERT_EQ(Run({"set-connection", "--create", SqliteConnection()}), 0) << err_.str();
  const std::string operation = "{\"CDFILIAL\":\"S\xE3o" + std::string(17, '1') + "\",\"CDCAIXA\":\"02\"}";
  ASSERT_EQ(Run({"enqueue", "--caixa", "02", "--filial", "S\xE3o" + std::string(17, '1')}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "1\n");
  TADOConnection database;  // the agent's, and other requesters' through an ordinary SQLite client
  database.SetConnectionString(SqliteConnection());
  database.Open();
  TADOQuery query;
  query.SetConnection(&database);
  for (const char* line : kPendingRowsQuery) query.SQL().Add(line);
  query.Open();
  EXPECT_EQ(query.RecordCount(), 1);
  EXPECT_EQ(query.FieldByName("TPOPERACAO").AsString() + " " + query.FieldByName("DSOPERACAO").AsString(),
            "SYNC " + operation);
  query.Close();
  for (const char* row : {"'P', datetime('now', 'localtime', '-1 day')", "'OK', datetime('now', 'localtime')",
                          "'OK', datetime('now', 'localtime', '-1 day')", "'p', datetime('now', 'localtime')"}) {
    database.Execute("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) "
                     "VALUES ('PDV', 'SYNC', '{}\n' || hex(zeroblob(5000)), " + std::string(row) + ")");
  }
  const struct { const char* id; int code; const char* says; } cancels[] = {{"1", 0, "request 1: status C (was P)"},
                 {"1", 1, "its status is \"C\""},
                 {"2", 1, "request 2 expired: it is pending since"},
                 {"3", 1, "request 3 is not pending or running: its status is \"OK\""},
                 {"5", 1, "its status is \"p\""}};
  for (const auto& c : cancels) {
    EXPECT_EQ(Run({"cancel", c.id}), c.code) << c.id;
    EXPECT_NE((out_.str() + err_.str()).find(c.says), std::string::npos) << out_.str() << err_.str();
  }
  query.SQL().Clear();
  query.SQL().Add("SELECT group_concat(IDSTCTRLEXECREM) || ' ' || COUNT(DTULTATU) AS S FROM CTRLEXECREM");
  query.Open();
  EXPECT_EQ(query.FieldByName("S").AsString(), "C,P,OK,OK,p 1");  // one row updated
  query.Close();
  database.Close();

  ASSERT_EQ(Run({"list"}), 0) << err_.str();
  std::istringstream lines(out_.str());
  std::vector<std::string> listed;
  for (std::string line; std::getline(lines, line);) listed.push_back(line);
  ASSERT_EQ(listed.size(), 5u) << out_.str();  // the heading, 1, 2, 3 and 5: not yesterday's finished row
  EXPECT_EQ(listed[0].rfind("ID  STATUS       DSOPERACAO", 0), 0u) << listed[0];
  EXPECT_EQ(listed[1].rfind("1   C            " + operation, 0), 0u) << listed[1];
  EXPECT_EQ(listed[1].find_first_of("0123456789", listed[1].find('}')), listed[0].find("DTINCLUSAO")) << out_.str();
  EXPECT_EQ(listed[2].rfind("2   P (expired)  {}\\n0000", 0), 0u) << listed[2];
  EXPECT_EQ(listed[4].rfind("5   p ", 0), 0u) << listed[4];
  for (const std::string& line : listed) EXPECT_LT(line.size(), 200u) << line;
  EXPECT_FALSE(HasControlBesidesLineEnds(out_.str()));
}

// One odd value that any member of the group can store breaks neither list nor status:
// it reads as not known, and the exit codes keep their meaning.
TEST_F(QarCfgTest, OddStoredValuesLeaveListAndStatusWorking) {
  ASSERT_EQ(Run({"set-connection", "--create", SqliteConnection()}), 0) << err_.str();
  ASSERT_EQ(Run({"enqueue", "--filial", "001", "--caixa", "02"}), 0) << err_.str();
  TAgentRecord self;  // this process, as the installation's agent
  std::tie(self.pid, self.exe) = std::tuple(platform::CurrentProcessId(), platform::ExecutableFileName());
  std::tie(self.instance, self.lastPoll) = std::tuple(platform::ProcessInstance(self.pid), platform::NowUtc());
  TStateStore::OpenForAgent(StateStorePath()).Write({self, {{.key = "x/1", .request = 1, .started = self.lastPoll}}});
  std::vector<TDriverParameter> none;
  const auto raw = OpenEmbeddedSqlite(platform::HostFileName(StateStorePath()));
  raw->Execute("UPDATE RUNS SET STARTED = 1e300, AGENTPID = -4 WHERE RUNKEY = 'x/1'", none, std::nullopt);
  raw->Execute("UPDATE AGENTS SET LASTPOLL = 'soon' WHERE INSTANCE = '" + self.instance + "'", none, std::nullopt);
  struct TRemove {  // Windows: the store is the machine's, shared with the other cases
    TDriverSession& raw;
    std::string instance;
    ~TRemove() {
      std::vector<TDriverParameter> none;
      raw.Execute("DELETE FROM RUNS WHERE RUNKEY = 'x/1'", none, std::nullopt);
      raw.Execute("DELETE FROM AGENTS WHERE INSTANCE = '" + instance + "'", none, std::nullopt);
    }
  } remove{*raw, self.instance};

  ASSERT_EQ(Run({"list", "--json"}), 0) << err_.str();
  EXPECT_EQ(nlohmann::json::parse(out_.str())["requests"][0]["lastRun"]["started"], nullptr) << out_.str();
  ASSERT_EQ(Run({"status", "--json"}), 0) << err_.str();
  EXPECT_EQ(nlohmann::json::parse(out_.str())["agents"][0]["responding"], false) << out_.str();  // never fresh
  EXPECT_EQ(Run({"status"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("NOT RESPONDING"), std::string::npos) << out_.str();
}

// A mistyped path is no new database: set-connection refuses a missing file unless told to
// make it, and the commands that read or cancel never make one (a requester may, with its table).
TEST_F(QarCfgTest, OnlySetConnectionCreateMakesTheDatabase) {
  EXPECT_EQ(Run({"set-connection", SqliteConnection()}), 1);
  EXPECT_NE(err_.str().find(database_ + " does not exist; check the path, or add --create"), std::string::npos)
      << err_.str();
  EXPECT_FALSE(std::filesystem::exists(database_));
  ASSERT_EQ(Run({"set-connection", SqliteConnection(), "--create"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("created the database file " + database_ + " ("), std::string::npos) << out_.str();
  ASSERT_TRUE(std::filesystem::remove(database_));
  // status still reports the agents (none here: 3) and names the missing file in the queue line.
  for (const auto& [args, code] : std::vector<std::pair<std::vector<std::string>, int>>{
           {{"list"}, 1}, {{"status"}, 3}, {{"cancel", "1"}, 1}}) {
    EXPECT_EQ(Run(args), code) << args[0];
    EXPECT_NE((err_.str() + out_.str()).find(database_ + " does not exist (QarCfg set-connection --create"),
              std::string::npos)
        << err_.str() << out_.str();
    EXPECT_FALSE(std::filesystem::exists(database_)) << args[0];
  }
}

// new-token's file is accepted by serve, kept unless replaced, and refused once others may read it.
TEST_F(QarCfgTest, NewTokenMakesAFileThatOnlyServeAndItsMakerRead) {
  const std::string file = Dir() + "serve.token";
  ASSERT_EQ(Run({"new-token", file}), 0) << err_.str();
  const std::string token = ReadTokenFile(file);
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(Run({"new-token", file, "-"}, "head-office-token\n"), 1);
  EXPECT_EQ(ReadTokenFile(file), token);
  ASSERT_EQ(Run({"new-token", "--replace", file, "-"}, "head-office-token\n"), 0) << err_.str();
  EXPECT_EQ(ReadTokenFile(file), "head-office-token");
#ifdef _WIN32
  PSECURITY_DESCRIPTOR everyone = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;FA;;;WD)", SDDL_REVISION_1, &everyone, nullptr));
  ASSERT_TRUE(SetFileSecurityA(file.c_str(), DACL_SECURITY_INFORMATION, everyone));
  LocalFree(everyone);
#else
  std::filesystem::permissions(file, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
#endif
  EXPECT_THROW(ReadTokenFile(file), ECommandError);
}

TEST_F(QarCfgTest, HelpAndVersionPrint) {
  EXPECT_EQ(Run({"help"}), 0);
  EXPECT_EQ(out_.str(), QarCfgUsage());
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out_.str().rfind("QarCfg 0.", 0), 0u) << out_.str();
}

}  // namespace
}  // namespace qar::tools
