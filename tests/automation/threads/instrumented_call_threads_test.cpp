// Instrumented calls from several threads at once: each keeps its own database key,
// monitor and session row; calls on one object take turns.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "scratch_database.h"
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

TVCLAutoObjectFactory gParaleloFactory = VCLAutoObjectFactoryOf<TdmParalelo>(
    {TGUID::Parse("{3C4D5E6F-7081-4293-A4B5-C6D7E8F90A12}"), "dmParalelo", "QarTeste.Paralelo", ""},
    com::TTypeInfoBuilder<TdmParalelo>("IdmParalelo", TGUID::Parse("{3C4D5E6F-7081-4293-A4B5-C6D7E8F90A13}"))
        .Method(1, "Quem", &TdmParalelo::Quem)
        .Build());

using CallThreadsTest = diagnostics::testing::DiagnosticsSandbox;

// Three threads at once, each with its own operator and key: two on one object, the
// third on another.
TEST_F(CallThreadsTest, EachCallKeepsItsOwnKeyMonitorAndRowAndCallsOnOneObjectTakeTurns) {
  SetInteger("TunningID", 1);
  const ::qar::testing::TScratchDatabase database("call_threads.db");  // gone after everything below
  TdmParalelo::connectionString = "Provider=SQLite;Data Source=" + database.DriverFile();
  TADOConnection admin;
  admin.SetConnectionString(TdmParalelo::connectionString);
  try {
    admin.Execute(::qar::testing::kCreateSessionTable);
  } catch (const EDataError& error) {  // Windows: SQLite through its ODBC driver
    if (error.SqlState() == "IM002" || error.SqlState() == "IM003") GTEST_SKIP() << error.what();
    throw;
  }
  TComPtr<com::IDispatch> shared = com::CreateOleObject("QarTeste.Paralelo");
  TdmParalelo* sharedModule = TdmParalelo::last;
  TComPtr<com::IDispatch> other = com::CreateOleObject("QarTeste.Paralelo");
  com::IDispatch* objects[] = {shared.Get(), shared.Get(), other.Get()};
  std::vector<std::string> answers[3];
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      // Operator (12 characters) and key (5) at their places in a kind-5 identity.
      std::string identity = std::string(kExtendedIdentityPrefix) + std::string(4, '\x7F') + std::string(25, ' ') +
                             "OPERADOR" + std::to_string(t) + "   " + "30" + std::to_string(t) + "  ";
      for (int i = 0; i < 20; ++i) answers[t].push_back(com::CallByName(*objects[t], "Quem", {identity}).AsString());
      answers[t].push_back("after:" + CurrentDatabaseKey());
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 3; ++t) {
    const std::string name = "OPERADOR" + std::to_string(t) + "   ";
    std::vector<std::string> expected(20, "30" + std::to_string(t) + "|" + name + "|" + name);
    expected.push_back("after:");
    EXPECT_EQ(answers[t], expected);
  }
  EXPECT_EQ(sharedModule->overlaps, 0);
}

}  // namespace
}  // namespace qar::automation
