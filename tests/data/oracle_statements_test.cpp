#include <gtest/gtest.h>

#include "ctrlexecrem_statements.h"
#include "data/ado_command.h"
#include "data/ado_connection.h"
#include "recording_session.h"

namespace qar {
namespace {

using namespace qar::testing;

// No Oracle server is at hand: the statements are checked where they reach a driver.
class OracleStatementsTest : public ::testing::Test {
 protected:
  OracleStatementsTest() {
    connection.SetConnectionString("Provider=MSDAORA;Data Source=ORCL");
    connection.ConnectionObject()->SetSessionFactory(RecordingFactory(recording));
    command.SetConnection(&connection);
  }
  std::shared_ptr<Recording> recording = std::make_shared<Recording>();
  TADOConnection connection;
  TADOCommand command;
};

TEST_F(OracleStatementsTest, StatementsReachTheDriverAsWrittenWithPositionalMarkers) {
  command.SetCommandText(kInsertLongOracle);
  ASSERT_EQ(command.Parameters().Count(), 7);
  EXPECT_EQ(command.Parameters()[6].Name(), "SERVMETHOD");
  for (int i = 0; i < 7; ++i) command.Parameters()[i].SetValue("v" + std::to_string(i));
  command.Execute();
  command.SetCommandText("COMMIT");
  command.Execute();

  ASSERT_EQ(recording->calls.size(), 2u);
  const std::string expected =
      "INSERT INTO SQLWEBTUNNING\r\n"
      "     (NRSID, NRAUDSID, DSREMOTEADDR, DSREMOTEHOST, DSREMOTEAPPL,\r\n"
      "      DSREMOTEOPER, DSSERVERRDM, DSSERVERDLL, DSSERVMETHOD, DTSTARTDATE)\r\n"
      "SELECT SID, AUDSID, ?, ?, ?,\r\n"
      "       ?, ?, ?, ?, SYSDATE\r\n"
      "FROM V$SESSION\r\n"
      "WHERE AUDSID = USERENV('SESSIONID')";
  EXPECT_EQ(recording->calls[0].text, expected);
  ASSERT_EQ(recording->calls[0].parameters.size(), 7u);
  EXPECT_EQ(recording->calls[0].parameters[6].value, Variant("v6"));
  EXPECT_EQ(recording->calls[1].text, "COMMIT");
}

TEST_F(OracleStatementsTest, ShortFormAndDeletesAreNotEdited) {
  command.SetCommandText(kInsertShortOracle);
  ASSERT_EQ(command.Parameters().Count(), 6);
  command.Parameters()[5].SetValue(12);
  command.Execute();
  EXPECT_EQ(recording->calls.back().text.find(":"), std::string::npos);

  for (const std::string& text : {kDeleteLongOracle, kDeleteShortOracle}) {
    command.SetCommandText(text);
    EXPECT_EQ(command.Parameters().Count(), 0);
    command.Execute();
    EXPECT_EQ(recording->calls.back().text, text);
  }
}

TEST_F(OracleStatementsTest, SqlServerStatementsAreNotTranslatedForANonSqliteServer) {
  recording->dbmsName = "Microsoft SQL Server";
  command.SetCommandText(kDeleteSqlServer);
  command.Execute();
  EXPECT_EQ(recording->calls.back().text, "DELETE FROM SQLWEBTUNNING\r\nWHERE NRSID = @@SPID");
  command.SetCommandText(kInsertShortSqlServer);
  command.Execute();
  EXPECT_NE(recording->calls.back().text.find("GETDATE())"), std::string::npos);
}

}  // namespace
}  // namespace qar
