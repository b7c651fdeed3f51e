// Instrumented calls from two threads at once: calls on two objects keep their own
// database key, monitor and session row; calls on one object take turns.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "../../data/session_statements.h"
#include "../../diagnostics/diagnostics_sandbox.h"
#include "automation/VCLCom.h"
#include "automation/caller_identity.h"
#include "automation/database_key.h"
#include "com/dispatch_client.h"
#include "com/type_info.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "diagnostics/execute_event.h"

namespace qar::automation {
namespace {

class TdmParalelo : public TComponent {
 public:
  TdmParalelo() {
    connection.SetConnectionString(connectionString);
    query.SetConnection(&connection);
    query.SQL().Add("SELECT DSREMOTEOPER FROM SQLWEBTUNNING WHERE NRSID = @@SPID");
    last = this;
  }
  // The thread's key, the operator the monitor holds and the one of the session's row.
  std::string Quem() {
    const int overlapping = inside++;
    query.Open();
    const auto* monitor = static_cast<const diagnostics::TExecuteEvent*>(connection.OnWillExecute.Object());
    std::string seen = CurrentDatabaseKey() + "|" + std::string(monitor->Identity().Operator) + "|" +
                       query.Fields(0).AsString();
    query.Close();
    if (--inside, overlapping > 0) ++overlaps;
    return seen;
  }

  TADOConnection& connection = CreateComponent<TADOConnection>();
  TADOQuery& query = CreateComponent<TADOQuery>();
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  static inline std::string connectionString;
  static inline TdmParalelo* last = nullptr;
};

com::TAutoObjectFactory gParaleloFactory = VCLAutoObjectFactoryOf<TdmParalelo>(
    {TGUID::Parse("{3C4D5E6F-7081-4293-A4B5-C6D7E8F90A12}"), "dmParalelo", "QarTeste.Paralelo", ""},
    com::TTypeInfoBuilder<TdmParalelo>("IdmParalelo", TGUID::Parse("{3C4D5E6F-7081-4293-A4B5-C6D7E8F90A13}"))
        .Method(1, "Quem", &TdmParalelo::Quem)
        .Build());

// An identity with operator `name` (at most 12 characters) and database key `key`.
std::string Identity(const std::string& name, const std::string& key) {
  std::string fields = std::string(4, '\x7F') + std::string(25, ' ') + name;
  fields.resize(41, ' ');
  return std::string(kExtendedIdentityPrefix) + fields + key;
}

class CallThreadsTest : public diagnostics::testing::DiagnosticsSandbox {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    SetInteger("TunningID", 1);
    TdmParalelo::connectionString = "Provider=SQLite;Data Source=" + Dir() + "paralelo.db";
    TADOConnection admin;
    admin.SetConnectionString(TdmParalelo::connectionString);
    try {
      admin.Execute(testing::kCreateSessionTable);
    } catch (const EDataError& error) {  // Windows: SQLite through its ODBC driver
      if (error.SqlState() == "IM002" || error.SqlState() == "IM003") GTEST_SKIP() << error.what();
      throw;
    }
  }

  // `calls` calls of Quem on each object, one thread per object; each thread's answers.
  static std::vector<std::vector<std::string>> Run(std::vector<com::IDispatch*> objects, int calls) {
    std::vector<std::vector<std::string>> answers(objects.size());
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < objects.size(); ++t) {
      threads.emplace_back([&, t] {
        const std::string name = "OPERADOR" + std::to_string(t);
        for (int i = 0; i < calls; ++i)
          answers[t].push_back(com::CallByName(*objects[t], "Quem", {Identity(name, "30" + std::to_string(t) + "  ")}).AsString());
        answers[t].push_back("after:" + CurrentDatabaseKey());
      });
    }
    for (std::thread& thread : threads) thread.join();
    return answers;
  }
};

TEST_F(CallThreadsTest, TwoObjectsKeepTheirOwnKeyMonitorAndRow) {
  TComPtr<com::IDispatch> first = com::CreateOleObject("QarTeste.Paralelo");
  TComPtr<com::IDispatch> second = com::CreateOleObject("QarTeste.Paralelo");
  const auto answers = Run({first.Get(), second.Get()}, 20);
  for (std::size_t t = 0; t < answers.size(); ++t) {
    const std::string name = "OPERADOR" + std::to_string(t);
    std::vector<std::string> expected(20, "30" + std::to_string(t) + "|" + name + "   |" + name + "   ");
    expected.push_back("after:");
    EXPECT_EQ(answers[t], expected);
  }
}

TEST_F(CallThreadsTest, CallsOnOneObjectTakeTurns) {
  TComPtr<com::IDispatch> object = com::CreateOleObject("QarTeste.Paralelo");
  TdmParalelo* module = TdmParalelo::last;
  const auto answers = Run({object.Get(), object.Get()}, 30);
  EXPECT_EQ(module->overlaps, 0);
  EXPECT_EQ(answers[1][29], "301|OPERADOR1   |OPERADOR1   ");
}

}  // namespace
}  // namespace qar::automation
