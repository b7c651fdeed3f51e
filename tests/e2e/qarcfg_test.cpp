// The administrator's tool with the real agent: the stored connection string and requests.
#include <gtest/gtest.h>

#include <string>

#include "agent_fixture.h"

namespace qar::e2e {
namespace {

class AdminToolTest : public AgentCase {
 protected:
  void SetUp() override {
    AgentCase::SetUp();
    if (!IsSkipped() && BuiltAdminTool().empty()) GTEST_SKIP() << "QarCfg.exe is not part of this build";
  }
};

TEST_F(AdminToolTest, TheAgentConnectsWithTheStringTheToolStoredAndShowHidesThePassword) {
  installation_->RemoveConnectionString();
  const std::string password = "Segredo123";
  const ToolRun stored = RunAdminTool(
      {"set-connection", installation_->ConnectionStringFor(installation_->DatabaseFile()) + ";Password=" + password});
  ASSERT_EQ(stored.exitCode, 0) << stored.out << stored.err;
  EXPECT_EQ(stored.out.find(password), std::string::npos) << stored.out;

  const ToolRun shown = RunAdminTool({"show"});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_NE(shown.out.find("StringConex"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find(installation_->DatabaseFile().substr(installation_->Dir().size())), std::string::npos)
      << shown.out;
  EXPECT_EQ(shown.out.find(password), std::string::npos) << shown.out;

  installation_->ConfigureWorker({"status=OK"});
  ChildProcess& agent = StartAgent();
  ASSERT_TRUE(WaitForTable()) << AgentErrors();
  const ToolRun enqueued = RunAdminTool({"enqueue", "--filial", "001", "--caixa", "02"});
  ASSERT_EQ(enqueued.exitCode, 0) << enqueued.err;
  const int id = std::stoi(enqueued.out.substr(enqueued.out.find_first_of("0123456789")));
  EXPECT_TRUE(WaitForWorker(Parameter(id, "001", "02"))) << AgentErrors();
  EXPECT_TRUE(WaitForStatus(id, "OK"));
  EXPECT_EQ(AgentErrors(), "");
  EXPECT_TRUE(agent.Running());
}

}  // namespace
}  // namespace qar::e2e
