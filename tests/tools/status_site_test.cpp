// The status page answered in-process over a scratch SQLite database.
#include "tools/status_site.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "../diagnostics/diagnostics_sandbox.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "platform/datetime.h"
#include "platform/process.h"
#include "state/command_error.h"
#include "state/control_table.h"
#include "state/state_store.h"
#include "tools/serve_command.h"
#include "tools/status_data.h"

namespace qar::tools {
namespace {

using namespace ::qar::state;

constexpr int kPort = 8470;
constexpr const char* kToken = "0123456789abcdef-token";

class StatusSiteTest : public diagnostics::testing::DiagnosticsSandbox {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    // Relative: under Wine the host's SQLite ODBC driver resolves it in the same directory.
    database_ = "status_site_test_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".db";
    std::remove(database_.c_str());
    connectionString_ = "Provider=SQLite;Data Source=" + database_;
    db_.SetConnectionString(connectionString_);
    db_.Execute(JoinStatementLines(kCreateTable));
  }
  void TearDown() override {
    db_.Close();
    std::remove(database_.c_str());
    DiagnosticsSandbox::TearDown();
  }
  // `days` ago: 0 is today.
  void Insert(const std::string& status, const std::string& operation, int days = 0, const std::string& error = "") {
    db_.Execute("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM, DSERRO, DTINCLUSAO) VALUES "
                "('T', 'SYNC', '" + operation + "', '" + status + "', '" + error + "', datetime('now', 'localtime', '-" +
                std::to_string(days) + " days'))");
  }
  std::string Status(int id) {
    TADOQuery query;
    query.SetConnection(&db_);
    query.SQL().Add("SELECT IDSTCTRLEXECREM FROM CTRLEXECREM WHERE IDCTRLEXECREM = " + std::to_string(id));
    query.Open();
    return query.FieldByName("IDSTCTRLEXECREM").AsString();
  }
  TStatusSite Site(std::optional<std::string> token = std::nullopt) {
    TStatusSources sources{connectionString_, Dir(), [] { return std::vector<TLogEntry>(); },
                           [] { return std::pair{std::vector<std::string>{"StringConex: x;PWD=*******"}, std::vector<std::string>()}; }};
    return TStatusSite(sources, "127.0.0.1", kPort, token);
  }
  static THttpRequest Get(const std::string& path, std::map<std::string, std::string> params = {}) {
    return {"GET", path, std::move(params), {{"host", "127.0.0.1:8470"}}};
  }

  std::string database_;
  std::string connectionString_;
  TADOConnection db_;
};

TEST_F(StatusSiteTest, OnlyTheListeningAddressOrLocalhostIsAnsweredAsHost) {
  const TStatusSite site = Site();
  for (const auto& [host, status] : std::vector<std::pair<std::string, int>>{
           {"127.0.0.1:8470", 200}, {"localhost:8470", 200}, {"LOCALHOST", 200}, {"127.0.0.1", 200},
           {"evil.example:8470", 421}, {"127.0.0.1:8471", 421}, {"", 421}, {"127.0.0.1.evil.example:8470", 421}}) {
    THttpRequest request = Get("/api/status");
    request.headers["host"] = host;
    const THttpResponse response = site.Handle(request);
    EXPECT_EQ(response.status, status) << host;
    EXPECT_NE(std::find(response.headers.begin(), response.headers.end(),
                        std::pair<std::string, std::string>{"X-Content-Type-Options", "nosniff"}),
              response.headers.end());
  }
}

TEST_F(StatusSiteTest, WithATokenEveryRequestMustCarryIt) {
  const TStatusSite site = Site(kToken);
  struct Case { std::string header, cookie, query; int status; };
  for (const Case& c : std::vector<Case>{{"", "", "", 401}, {"0123456789abcdef-tokem", "", "", 401}, {kToken, "", "", 200},
                                         {"", std::string("qar_token=") + kToken, "", 200},
                                         {"", "qar_token=0123456789abcdef", "", 401}, {"", "", kToken, 303}, {"", "", "wrong", 401}}) {
    THttpRequest request = Get("/", c.query.empty() ? std::map<std::string, std::string>{}
                                                    : std::map<std::string, std::string>{{"token", c.query}});
    if (!c.header.empty()) request.headers["x-qar-token"] = c.header;
    if (!c.cookie.empty()) request.headers["cookie"] = c.cookie;
    EXPECT_EQ(site.Handle(request).status, c.status) << c.header << c.cookie << c.query;
  }
  EXPECT_TRUE(ConstantTimeEquals("abc", "abc"));
  EXPECT_FALSE(ConstantTimeEquals("abc", "abcd"));
  EXPECT_FALSE(ConstantTimeEquals("abcd", "abc"));
}

TEST_F(StatusSiteTest, CancelNeedsTheSessionsAntiForgeryTokenAndFollowsQarCfgsRule) {
  Insert("P", "{}");
  Insert("OK", "{}");
  const TStatusSite site = Site();
  const THttpResponse first = site.Handle(Get("/requests/1/cancel"));
  ASSERT_EQ(first.status, 200);
  const auto cookie = std::find_if(first.headers.begin(), first.headers.end(), [](const auto& h) { return h.first == "Set-Cookie"; });
  ASSERT_NE(cookie, first.headers.end());
  const std::string session = CookieValue(cookie->second.substr(0, cookie->second.find(';')), "qar_session");
  EXPECT_NE(first.body.find("value=\"" + session + "\""), std::string::npos);  // the confirmation's form carries it

  const auto post = [&](int id, const std::string& csrf, const std::string& cookies) {
    THttpRequest request{"POST", "/requests/" + std::to_string(id) + "/cancel", {{"csrf", csrf}}, {{"host", "localhost:8470"}}};
    if (!cookies.empty()) request.headers["cookie"] = cookies;
    return site.Handle(request).status;
  };
  EXPECT_EQ(post(1, "", "qar_session=" + session), 403);
  EXPECT_EQ(post(1, session, ""), 403);  // a form without its session
  EXPECT_EQ(post(1, std::string(32, 'a'), "qar_session=" + session), 403);
  EXPECT_EQ(Status(1), "P");
  EXPECT_EQ(post(1, session, "qar_session=" + session), 303);
  EXPECT_EQ(Status(1), "C");
  EXPECT_EQ(post(1, session, "qar_session=" + session), 409);  // no longer pending
  EXPECT_EQ(post(2, session, "qar_session=" + session), 409);
  EXPECT_EQ(Status(2), "OK");
}

// The request an agent (this process, in the state store) supervises is running, not pending.
TEST_F(StatusSiteTest, TheSupervisedRequestIsRunning) {
  Insert("P", "{}");
  Insert("P", "{}");
  state::TAgentRecord agent;
  agent.pid = platform::CurrentProcessId();
  agent.instance = platform::ProcessInstance(agent.pid);
  agent.exe = Dir() + "QarSnc.exe";
  agent.lastPoll = platform::NowUtc();
  agent.request = "2";
  state::TStateStore::OpenForAgent(state::StateStorePath()).Write({agent, {}});
  const std::string status = Site().Handle(Get("/api/status")).body;
  if (status.find("there is no") != std::string::npos) GTEST_SKIP() << "the state store is not readable here: " << status;
  EXPECT_NE(status.find("\"queue\":{\"pendingToday\":1,\"expired\":0,\"running\":1}"), std::string::npos) << status;
  const std::string page = Site().Handle(Get("/requests")).body;
  EXPECT_NE(page.find("P (running)"), std::string::npos);
  EXPECT_NE(page.find("<td>P</td>"), std::string::npos);
}

TEST_F(StatusSiteTest, HostileTextsFromTheDatabaseAreShownAsText) {
  Insert("NOK", "<script>alert(1)</script>", 0, "\"><img src=x onerror=alert(2)>");
  const TStatusSite site = Site();
  for (const std::string path : {"/requests", "/requests/1", "/requests/1/cancel"}) {
    const std::string body = site.Handle(Get(path)).body;
    EXPECT_EQ(body.find("<script>alert"), std::string::npos) << path;
    EXPECT_EQ(body.find("<img"), std::string::npos) << path;
    EXPECT_NE(body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << path;
  }
}

TEST_F(StatusSiteTest, CountsAndPagesFollowTheFilters) {
  for (int i = 0; i < 120; ++i) Insert(i % 4 == 0 ? "NOK" : "OK", "{}");  // ids 1..120
  Insert("P", "{}");                                                         // 121: its worker runs
  Insert("P", "{}");                                                         // 122
  Insert("C", "{}");                                                         // 123
  Insert("NOK", "{}", 0, "Cancelado pelo operador");                         // 124
  Insert("P", "{}", 3);                                                      // 125: expired
  Insert("OK", "{}", 2);                                                     // 126: not today
  TADOConnection connection;
  OpenReadOnly(connection, connectionString_);
  const TQueueCounts counts = CountQueue(connection, {"121", "124", "x"});
  EXPECT_EQ(std::vector<std::int64_t>({counts.pendingToday, counts.running, counts.done, counts.failed, counts.cancelled, counts.expired}),
            std::vector<std::int64_t>({1, 1, 90, 30, 2, 1}));
  const TQueueCounts crossedMidnight = CountQueue(connection, {"125"});  // a worker of an expired row runs
  EXPECT_EQ(std::vector<std::int64_t>({crossedMidnight.pendingToday, crossedMidnight.running, crossedMidnight.expired}),
            std::vector<std::int64_t>({2, 1, 0}));

  struct Case { std::string status, day, id, page; std::int64_t total; std::size_t rows; std::string first; };
  for (const Case& c : std::vector<Case>{{"", "", "", "", 124, 50, "124"}, {"", "", "", "3", 124, 24, "24"},
                                         {"NOK", "", "", "", 31, 31, "124"}, {"expired", "", "", "", 1, 1, "125"},
                                         {"", "all", "", "", 126, 50, "126"}, {"", "", "126", "", 1, 1, "126"}}) {
    const TRequestPage page = QueryRequests(connection, ParseRequestFilter(c.status, c.day, c.id, c.page));
    EXPECT_EQ(page.total, c.total) << c.status << c.day << c.id << c.page;
    ASSERT_EQ(page.rows.size(), c.rows) << c.status << c.day << c.id << c.page;
    EXPECT_EQ(page.rows.front().id, c.first);
  }
  EXPECT_THROW(ParseRequestFilter("P'--", "", "", ""), EUsageError);
  EXPECT_THROW(ParseRequestFilter("", "2026-13", "", ""), EUsageError);
  EXPECT_EQ(Site().Handle(Get("/requests", {{"page", "0"}})).status, 400);
  // The page's connection cannot write.
  EXPECT_THROW(connection.Execute("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'X'"), EDataError);
}

TEST(StatusLogs, EntriesAreSplitAtTheirSeparatorsWithTheirTimes) {
  const std::string log = "--------\r\n14:03:27\r\n--------\r\nSQL: \r\n   select 1\r\n\r\n--------\r\n14:05:00\r\n--------\r\nErro: \r\n   x\r\n";
  const std::vector<TLogEntry> entries = SplitLogEntries("a_Error.log", "tail of a cut entry\r\n" + log);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].time, "14:03:27");
  EXPECT_EQ(entries[0].text, "SQL: \n   select 1");
  const std::string report = std::string(77, '=') + "\r\nTitle\r\n" + std::string(77, '=') + "\r\nData/Hora .: 05/12/2026 14:03:29\r\nDLL .......: x\r\n";
  EXPECT_EQ(SplitLogEntries("tr_report.txt", report).at(0).time, "05/12/2026 14:03:29");
}

TEST(ServeArguments, ListeningBeyondLoopbackNeedsATokenFile) {
  struct Case { std::vector<std::string> args; bool ok; std::string host; int port; };
  for (const Case& c : std::vector<Case>{{{"serve"}, true, "127.0.0.1", 8470},
                                         {{"serve", "--listen", "127.0.0.2:0"}, true, "127.0.0.2", 0},
                                         {{"serve", "--listen", "[::1]:9000"}, true, "::1", 9000},
                                         {{"serve", "--listen", "192.0.2.7:8470", "--token-file", "t"}, true, "192.0.2.7", 8470},
                                         {{"serve", "--listen", "192.0.2.7:8470"}, false, "", 0},
                                         {{"serve", "--listen", "::1:80"}, false, "", 0},
                                         {{"serve", "--listen", "0.0.0.0:8470", "--token-file", "t"}, false, "", 0},
                                         {{"serve", "--listen", "127.0.0.1:70000"}, false, "", 0},
                                         {{"serve", "--port", "1"}, false, "", 0}}) {
    if (!c.ok) {
      EXPECT_THROW(ParseServeArguments(c.args), EUsageError) << c.args.back();
      continue;
    }
    const TServeOptions options = ParseServeArguments(c.args);
    EXPECT_EQ(options.host, c.host);
    EXPECT_EQ(options.port, c.port);
  }
}

}  // namespace
}  // namespace qar::tools
