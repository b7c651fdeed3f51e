// QarCfg's commands run in-process against a scratch registry and a scratch SQLite database.
#include "tools/QarCfgCommands.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "config/GeralQar.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/control_table.h"
#include "diagnostics/websrv_key.h"
#include "platform/environment.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace qar::tools {
namespace {

constexpr const char* kValueNames[] = {"StringConex", "TunningID", "SqlMonitor", "SqlMonUser",
                                       "TmpFileDir"};

// POSIX: HKEY_LOCAL_MACHINE is a file in a fresh folder. Windows: the test prefix's
// registry, whose WebSrv values are removed before and after each test.
class QarCfgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = platform::TempDirectory() + "qar_cfg_" + std::to_string(platform::CurrentProcessId()) +
           "_" + name;
    std::filesystem::create_directories(platform::ToNativePath(dir_));
    oldHklm_ = platform::GetEnv("QARSNC_HKLM");
    platform::SetEnv("QARSNC_HKLM", dir_ + platform::kPathDelim + "HKLM.reg");
    ClearValues();
    // Relative: under Wine the host's SQLite ODBC driver resolves it in the same directory.
    database_ = "qar_cfg_test_" + name + ".db";
    std::remove(database_.c_str());
  }
  void TearDown() override {
    ClearValues();
    if (oldHklm_) {
      platform::SetEnv("QARSNC_HKLM", *oldHklm_);
    } else {
      platform::UnsetEnv("QARSNC_HKLM");
    }
    std::error_code ignored;
    std::filesystem::remove_all(platform::ToNativePath(dir_), ignored);
    std::remove(database_.c_str());
  }

  static void ClearValues() {
    platform::RegistryKey key;
    if (key.Open(diagnostics::kWebSrvKey, false) != platform::RegStatus::kOk) return;
    for (const char* name : kValueNames) key.DeleteValue(name);
  }

  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunQarCfg(args, out_, err_);
  }

  // Everything a command could have changed: the values and, on POSIX, the file's bytes.
  static std::string RegistrySnapshot() {
    platform::RegistryKey key;
    std::string snapshot = std::to_string(static_cast<int>(
        key.Open(diagnostics::kWebSrvKey, false, platform::RegAccess::kRead)));
    for (const char* name : kValueNames) {
      std::string text;
      std::int32_t number = 0;
      snapshot += std::string("\n") + name + " " + std::to_string(static_cast<int>(key.ReadString(name, text))) +
                  " " + text + " " + std::to_string(static_cast<int>(key.ReadInteger(name, number))) + " " +
                  std::to_string(number);
    }
    std::ifstream in(platform::ToNativePath(platform::RegistryFilePath()), std::ios::binary);
    return snapshot + std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string SqliteConnection() const { return "Provider=SQLite;Data Source=" + database_; }

  // A connection of its own to the scratch database, as the agent or a requester has.
  void OpenDatabase(TADOConnection& connection) const {
    connection.SetConnectionString(SqliteConnection());
    connection.Open();
  }

  std::string dir_;
  std::optional<std::string> oldHklm_;
  std::string database_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(QarCfgTest, StoredConnectionStringReachesTheAgentAndShowMasksItsPassword) {
  const std::string plain = SqliteConnection() + ";Password=s3cret!";
  ASSERT_EQ(Run({"set-connection", plain}), 0) << err_.str();
  EXPECT_EQ(out_.str().find("s3cret"), std::string::npos);

  // Encrypted in the registry, decrypted by the agent's provider, and it connects.
  platform::RegistryKey key;
  std::string stored;
  ASSERT_EQ(key.Open(config::sSiteWebSrvKey, false, platform::RegAccess::kRead), platform::RegStatus::kOk);
  ASSERT_EQ(key.ReadString("StringConex", stored), platform::RegStatus::kOk);
  EXPECT_EQ(stored.find("s3cret"), std::string::npos);
  config::InitializeGeralQar();
  const std::string served = config::GetConnectionString("");
  config::FinalizeGeralQar();
  EXPECT_EQ(served, plain);
  TADOConnection agent;
  agent.SetConnectionString(served);
  EXPECT_NO_THROW(agent.Open());

  ASSERT_EQ(Run({"show"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("StringConex: " + SqliteConnection() + ";Password=*******\n"),
            std::string::npos)
      << out_.str();
  EXPECT_EQ(out_.str().find("s3cret"), std::string::npos);
  EXPECT_NE(out_.str().find("TunningID:   (not set)\n"), std::string::npos) << out_.str();
}

// The drivers take "Password =x" as the password and read a quoted or braced value
// whole, ";" included: none of it may reach the screen.
TEST_F(QarCfgTest, NoPasswordTheDriversReadIsPrinted) {
  for (const char* tail : {";Password =ab1Kw7q", ";Password=\"ab1;Kw7q\"", ";PWD={ab1;Kw7q};X=1"}) {
    ASSERT_EQ(Run({"set-connection", SqliteConnection() + tail}), 0) << tail << err_.str();
    const std::string stored = out_.str();
    ASSERT_EQ(Run({"show"}), 0) << tail << err_.str();
    for (const std::string& shown : {stored, out_.str()}) {
      EXPECT_EQ(shown.find("ab1"), std::string::npos) << shown;
      EXPECT_EQ(shown.find("Kw7q"), std::string::npos) << shown;
    }
  }
}

TEST_F(QarCfgTest, RefusedInputGetsOneLineAndLeavesTheRegistryAsItWas) {
  ASSERT_EQ(Run({"set-connection", SqliteConnection()}), 0) << err_.str();
  ASSERT_EQ(Run({"set", "TunningID", "1"}), 0) << err_.str();
  const std::string before = RegistrySnapshot();

  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const Case cases[] = {
      {{}, 2},
      {{"frobnicate"}, 2},
      {{"show", "extra"}, 2},
      {{"set-connection"}, 2},
      {{"set-connection", "not a connection string"}, 2},
      {{"set-connection", "Data Source=x.db;Password=p"}, 2},        // no provider or driver
      {{"set-connection", "Provider=NoSuchProvider;Data Source=x"}, 2},
      {{"set-connection", "Provider=SQLite;Password=p"}, 2},          // no database file
      {{"set-connection", "Provider=SQLite;Data Source=no_such_dir/sub/x.db"}, 1},
      {{"set", "TunningID"}, 2},
      {{"set", "Tuning", "1"}, 2},
      {{"set", "SqlMonitor", "-1"}, 2},
      {{"set", "SqlMonitor", "4294967296"}, 2},
      {{"set", "SqlMonitor", "1x"}, 2},
      {{"set", "TmpFileDir", ""}, 2},
      {{"set", "TmpFileDir", std::string(201, 'd')}, 2},
      {{"set", "SqlMonUser", std::string(256, 'u')}, 2},
      {{"enqueue", "--filial", "001"}, 2},
      {{"enqueue", "--filial", "001", "--caixa"}, 2},
      {{"enqueue", "--filial", "0\"1", "--caixa", "02"}, 2},
      {{"enqueue", "--filial", "001", "--caixa", "0\\2"}, 2},
      {{"enqueue", "--filial", "001", "--caixa", "0\n2"}, 2},
      {{"enqueue", "--filial", "0_1", "--caixa", "02"}, 2},
      {{"enqueue", "--filial", "001", "--loja", "02"}, 2},
      {{"cancel"}, 2},
      {{"cancel", "0"}, 2},
      {{"cancel", "-3"}, 2},
      {{"cancel", "2147483648"}, 2},
      {{"cancel", "12a"}, 2},
      {{"cancel", "99"}, 1},  // no such request
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& arg : c.args) shown.append("[").append(arg, 0, 40).append("]");
    EXPECT_EQ(Run(c.args), c.code) << shown;
    const std::string err = err_.str();
    EXPECT_EQ(err.rfind("QarCfg: ", 0), 0u) << shown << " " << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << shown << " " << err;
    EXPECT_EQ(RegistrySnapshot(), before) << shown;
  }
  EXPECT_FALSE(std::filesystem::exists("no_such_dir"));
}

TEST_F(QarCfgTest, SetStoresIntegersAsDwordsAndTextsAsStringsUnderTheirOwnNames) {
  EXPECT_EQ(Run({"set", "tunningid", "1"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "TunningID = 1\n");
  EXPECT_EQ(Run({"set", "SQLMONITOR", "4294967295"}), 0) << err_.str();
  EXPECT_EQ(Run({"set", "SqlMonUser", "ANA;PEDRO"}), 0) << err_.str();
  EXPECT_EQ(Run({"set", "TmpFileDir", "D:\\logs"}), 0) << err_.str();

  platform::RegistryKey key;
  ASSERT_EQ(key.Open(diagnostics::kWebSrvKey, false, platform::RegAccess::kRead), platform::RegStatus::kOk);
  std::int32_t number = 0;
  std::string text;
  EXPECT_EQ(key.ReadInteger("TunningID", number), platform::RegStatus::kOk);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(key.ReadInteger("SqlMonitor", number), platform::RegStatus::kOk);
  EXPECT_EQ(number, -1);  // 0xFFFFFFFF
  EXPECT_EQ(key.ReadString("SqlMonUser", text), platform::RegStatus::kOk);
  EXPECT_EQ(text, "ANA;PEDRO");
  EXPECT_EQ(key.ReadString("TmpFileDir", text), platform::RegStatus::kOk);
  EXPECT_EQ(text, "D:\\logs");

  ASSERT_EQ(Run({"show"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("SqlMonitor:  4294967295\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("SqlMonUser:  ANA;PEDRO\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("TmpFileDir:  D:\\logs\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("StringConex: (not set)\n"), std::string::npos) << out_.str();

  // An empty operator list is a setting of its own: every operator is monitored.
  EXPECT_EQ(Run({"set", "SqlMonUser", ""}), 0) << err_.str();
  ASSERT_EQ(Run({"show"}), 0) << err_.str();
  EXPECT_NE(out_.str().find("SqlMonUser:  (empty)\n"), std::string::npos) << out_.str();
}

TEST_F(QarCfgTest, ShowNeverPrintsAValueThatDoesNotDecryptAndNeverCreatesTheKey) {
  const std::string before = RegistrySnapshot();
  EXPECT_EQ(Run({"show"}), 0) << err_.str();
  EXPECT_EQ(RegistrySnapshot(), before);

  platform::RegistryKey key;
  ASSERT_EQ(key.Open(config::sSiteWebSrvKey, true), platform::RegStatus::kOk);
  ASSERT_EQ(key.WriteString("StringConex", "Provider=SQLOLEDB.1;Password=plain-secret"),
            platform::RegStatus::kOk);
  EXPECT_EQ(Run({"show"}), 1);
  EXPECT_NE(out_.str().find("StringConex: (stored, but it does not decrypt on this machine)"),
            std::string::npos)
      << out_.str();
  EXPECT_EQ(out_.str().find("plain-secret"), std::string::npos);
  EXPECT_EQ(err_.str().find("plain-secret"), std::string::npos);
  EXPECT_EQ(err_.str().rfind("QarCfg: StringConex does not decrypt", 0), 0u) << err_.str();
}

TEST_F(QarCfgTest, RequestsNeedAStoredConnectionString) {
  EXPECT_EQ(Run({"enqueue", "--filial", "001", "--caixa", "02"}), 1);
  EXPECT_NE(err_.str().find("no connection string is stored"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"list"}), 1);
}

TEST_F(QarCfgTest, EnqueueCreatesTheTableAndTheAgentFindsThePendingRequest) {
  ASSERT_EQ(Run({"set-connection", SqliteConnection()}), 0) << err_.str();
  ASSERT_EQ(Run({"enqueue", "--caixa", "02", "--filial", "001"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "1\n");
  ASSERT_EQ(Run({"enqueue", "--filial", "S\xE3o", "--caixa", "7"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "2\n");

  TADOConnection agent;
  OpenDatabase(agent);
  TADOQuery pending;
  pending.SetConnection(&agent);
  for (const char* line : kPendingRowsQuery) pending.SQL().Add(line);
  pending.Open();
  ASSERT_EQ(pending.RecordCount(), 2);
  EXPECT_EQ(pending.FieldByName("IDCTRLEXECREM").AsString(), "1");
  EXPECT_EQ(pending.FieldByName("IDSTCTRLEXECREM").AsString(), "P");
  EXPECT_EQ(pending.FieldByName("TPOPERACAO").AsString(), "SYNC");
  EXPECT_EQ(pending.FieldByName("DSOPERACAO").AsString(), "{\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}");
  pending.Next();
  EXPECT_EQ(pending.FieldByName("DSOPERACAO").AsString(), "{\"CDFILIAL\":\"S\xE3o\",\"CDCAIXA\":\"7\"}");

  TADOQuery app;
  app.SetConnection(&agent);
  app.SQL().Add("SELECT COUNT(*) AS N FROM CTRLEXECREM WHERE CDAPP = 'QarCfg'");
  app.Open();
  EXPECT_EQ(app.FieldByName("N").AsString(), "2");
}

TEST_F(QarCfgTest, CancelMarksTheRowAndListShowsOnlyTodaysRows) {
  ASSERT_EQ(Run({"set-connection", SqliteConnection()}), 0) << err_.str();
  ASSERT_EQ(Run({"enqueue", "--filial", "001", "--caixa", "02"}), 0) << err_.str();
  {
    // A requester's row of yesterday, inserted with an ordinary SQLite client.
    TADOConnection requester;
    OpenDatabase(requester);
    requester.Execute(
        "INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM, DTINCLUSAO) "
        "VALUES ('PDV', 'SYNC', '{}', 'P', datetime('now', 'localtime', '-1 day'))");
  }
  ASSERT_EQ(Run({"cancel", "1"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "request 1: status C (was P)\n");
  ASSERT_EQ(Run({"cancel", "2"}), 0) << err_.str();  // any existing row, today's or not

  TADOConnection agent;
  OpenDatabase(agent);
  TADOQuery row;
  row.SetConnection(&agent);
  row.SQL().Add("SELECT IDSTCTRLEXECREM, DTULTATU FROM CTRLEXECREM WHERE IDCTRLEXECREM = 1");
  row.Open();
  EXPECT_EQ(row.FieldByName("IDSTCTRLEXECREM").AsString(), "C");
  EXPECT_FALSE(row.FieldByName("DTULTATU").IsNull());
  agent.Close();

  ASSERT_EQ(Run({"list"}), 0) << err_.str();
  std::istringstream lines(out_.str());
  std::string heading;
  std::string first;
  std::string extra;
  std::getline(lines, heading);
  std::getline(lines, first);
  EXPECT_FALSE(std::getline(lines, extra)) << out_.str();  // yesterday's row is not listed
  EXPECT_EQ(heading.rfind("ID  STATUS  DSOPERACAO", 0), 0u) << heading;
  EXPECT_EQ(first.rfind("1   C       {\"CDFILIAL\":\"001\",\"CDCAIXA\":\"02\"}", 0), 0u) << first;
  EXPECT_EQ(first.find_first_of("0123456789", first.find('}')), heading.find("DTINCLUSAO")) << out_.str();
}

TEST(QarCfgUsageTest, HelpSucceedsAndAMissingCommandIsAUsageError) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunQarCfg({"help"}, out, err), 0);
  EXPECT_EQ(out.str(), QarCfgUsage());
  EXPECT_TRUE(err.str().empty());
  EXPECT_EQ(RunQarCfg({}, out, err), 2);
}

}  // namespace
}  // namespace qar::tools
