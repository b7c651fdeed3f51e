// The status page answered in-process over a scratch SQLite database.
#include "tools/status_site.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "../diagnostics/diagnostics_sandbox.h"
#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "data/data_error.h"
#include "platform/datetime.h"
#include "platform/environment.h"
#include "platform/private_file.h"
#include "platform/process.h"
#include "scratch_database.h"
#include "state/command_error.h"
#include "state/control_requests.h"
#include "state/control_table.h"
#include "state/state_store.h"
#include "state/worker_output.h"
#include "tools/metrics.h"
#include "tools/serve_command.h"
#include "tools/status_data.h"

namespace qar::tools {
namespace {

using namespace ::qar::state;

constexpr int kPort = 8470;
constexpr const char* kToken = "0123456789abcdef-token";
constexpr const char* kOrigin = "http://127.0.0.1:8470";

class StatusSiteTest : public diagnostics::testing::DiagnosticsSandbox {
 protected:
  void SetUp() override {
    DiagnosticsSandbox::SetUp();
    // The installation's state store, in the sandbox: beside the settings file (POSIX), under
    // %ProgramData% (Windows).
    platform::SetEnv("ProgramData", Dir().substr(0, Dir().size() - 1));
    connectionString_ = "Provider=SQLite;Data Source=" + database_.DriverFile();
    db_.SetConnectionString(connectionString_);
    db_.Execute(JoinStatementLines(kCreateTable));
  }
  void TearDown() override {
    db_.Close();
    programData_ ? platform::SetEnv("ProgramData", *programData_) : platform::UnsetEnv("ProgramData");
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
  std::unique_ptr<TStatusSite> Site() {
    TStatusSources sources{connectionString_, Dir(), [] { return std::vector<TLogEntry>(); },
                           [] { return std::pair{std::vector<std::string>{"StringConex: x;PWD=*******"}, std::vector<std::string>()}; },
                           {}, Dir() + "cancels.log"};
    return std::make_unique<TStatusSite>(sources, TServedOrigin{{"127.0.0.1", "localhost"}, kPort}, kToken);
  }
  // A script's request: the token in a header.
  static THttpRequest Get(const std::string& path, std::map<std::string, std::string> params = {}) {
    return {"GET", path, std::move(params), {{"host", "127.0.0.1:8470"}, {"x-qar-token", kToken}}};
  }
  static std::string SetCookie(const THttpResponse& response) {
    for (const auto& [name, value] : response.headers)
      if (name == "Set-Cookie") return value;
    return {};
  }

  const std::optional<std::string> programData_ = platform::GetEnv("ProgramData");
  const ::qar::testing::TScratchDatabase database_{"status_site.db"};  // gone after db_
  std::string connectionString_;
  TADOConnection db_;
};

TEST_F(StatusSiteTest, OnlyTheListeningAddressOrLocalhostIsAnsweredAsHost) {
  const auto site = Site();
  for (const auto& [host, status] : std::vector<std::pair<std::string, int>>{
           {"127.0.0.1:8470", 200}, {"localhost:8470", 200}, {"LOCALHOST", 200}, {"127.0.0.1", 200},
           {"evil.example:8470", 421}, {"127.0.0.1:8471", 421}, {"", 421}, {"127.0.0.1.evil.example:8470", 421}}) {
    THttpRequest request = Get("/api/status");
    request.headers["host"] = host;
    const THttpResponse response = site->Handle(request);
    EXPECT_EQ(response.status, status) << host;
    EXPECT_NE(std::find(response.headers.begin(), response.headers.end(),
                        std::pair<std::string, std::string>{"X-Content-Type-Options", "nosniff"}),
              response.headers.end());
  }
}

// Scripts send the token in a header; a browser shows it once, in the address or the
// sign-in form, and gets a session cookie that is not the token.
TEST_F(StatusSiteTest, EveryRequestNeedsTheTokenOrASessionOpenedWithIt) {
  const auto site = Site();
  const auto with = [&](const std::string& header, const std::string& value, const std::string& path = "/settings") {
    THttpRequest request{"GET", path, {}, {{"host", "127.0.0.1:8470"}}};
    if (!header.empty()) request.headers[header] = value;
    return site->Handle(request);
  };
  for (const auto& [header, value, status] : std::vector<std::tuple<std::string, std::string, int>>{
           {"", "", 401}, {"x-qar-token", kToken, 200}, {"x-qar-token", "0123456789abcdef-tokem", 401},
           {"authorization", std::string("Bearer ") + kToken, 200}, {"authorization", std::string("bearer  ") + kToken, 200},
           {"authorization", "Bearer 0123456789abcdef", 401}, {"authorization", std::string("Basic ") + kToken, 401},
           {"cookie", std::string("qar_token=") + kToken, 401}, {"cookie", "qar_session_8470=" + std::string(64, 'a'), 401}}) {
    EXPECT_EQ(with(header, value).status, status) << header << ": " << value;
  }
  const THttpResponse refused = with("", "", "/requests/3");
  EXPECT_NE(refused.body.find("<title>QarSnc: Access token needed</title>"), std::string::npos);
  EXPECT_NE(refused.body.find("name=\"next\" value=\"/requests/3\""), std::string::npos);
  EXPECT_EQ(with("", "", "/api/status").contentType, "application/json");
  EXPECT_EQ(with("", "", "/static/status.css").status, 200);

  THttpRequest visit{"GET", "/requests", {{"token", kToken}, {"status", "P"}}, {{"host", "127.0.0.1:8470"}}};
  const THttpResponse exchanged = site->Handle(visit);
  ASSERT_EQ(exchanged.status, 303);
  EXPECT_EQ(exchanged.headers.front(), (std::pair<std::string, std::string>{"Location", "/requests?status=P"}));
  const std::string cookie = SetCookie(exchanged);
  EXPECT_EQ(cookie.find(kToken), std::string::npos);
  EXPECT_NE(cookie.find("; Path=/; Max-Age=43200; HttpOnly; SameSite=Strict"), std::string::npos) << cookie;
  EXPECT_EQ(with("cookie", "other=1; " + cookie.substr(0, cookie.find(';'))).status, 200);
  visit.params["token"] = "wrong";
  EXPECT_EQ(site->Handle(visit).status, 401);

  THttpRequest login{"POST", "/login", {{"token", kToken}, {"next", "//evil.example/"}}, {{"host", "127.0.0.1:8470"}, {"origin", kOrigin}}};
  const THttpResponse signedIn = site->Handle(login);
  EXPECT_EQ(signedIn.status, 303);
  EXPECT_EQ(signedIn.headers.front().second, "/");
  EXPECT_EQ(with("cookie", SetCookie(signedIn).substr(0, SetCookie(signedIn).find(';'))).status, 200);
  login.headers["origin"] = "http://127.0.0.1:9999";
  EXPECT_EQ(site->Handle(login).status, 403);
  login.headers["origin"] = kOrigin;
  login.params["token"] = "wrong";
  EXPECT_EQ(site->Handle(login).status, 401);
}

// Sessions live in the server for their lifetime; past the bound the oldest goes.
TEST(StatusAccess, SessionsExpireAndAreBounded) {
  platform::SimulatedClock clock(46000.0);
  TAccessControl access(kToken, TServedOrigin{{"127.0.0.1"}, kPort}, TSessionLimits{std::chrono::seconds(60), 2}, clock);
  const auto carrying = [&](const std::string& setCookie) {
    return access.Check({"GET", "/", {}, {{"cookie", setCookie.substr(0, setCookie.find(';'))}}}).kind;
  };
  const std::string first = access.OpenSession();
  clock.Advance(std::chrono::seconds(30));
  const std::string second = access.OpenSession(), third = access.OpenSession();
  EXPECT_EQ(carrying(first), TAccessKind::kNone);  // the third pushed it out
  EXPECT_EQ(carrying(second), TAccessKind::kSession);
  clock.Advance(std::chrono::seconds(61));
  EXPECT_EQ(carrying(second), TAccessKind::kNone);  // its minute is over
}

// A browser's POST must come from a page of this origin and carry its session's
// field; a session is never one the client chose.
TEST_F(StatusSiteTest, CancelNeedsAFormOfThePageAndFollowsQarCfgsRule) {
  Insert("P", "{}");
  Insert("OK", "{}");
  Insert("P", "{}", 2);
  const auto site = Site();
  const std::string cookie = [&] {
    const std::string set = SetCookie(site->Handle({"GET", "/", {{"token", kToken}}, {{"host", "127.0.0.1:8470"}}}));
    return set.substr(0, set.find(';'));
  }();
  THttpRequest confirm = Get("/requests/1/cancel");
  confirm.headers = {{"host", "127.0.0.1:8470"}, {"cookie", cookie}};
  const THttpResponse form = site->Handle(confirm);
  ASSERT_EQ(form.status, 200);
  constexpr std::string_view kField = "name=\"csrf\" value=\"";
  const std::size_t field = form.body.find(kField);
  ASSERT_NE(field, std::string::npos);
  const std::string csrf = form.body.substr(field + kField.size(), 64);

  const auto post = [&](int id, const std::string& token, std::map<std::string, std::string> headers) {
    headers["host"] = "localhost:8470";
    headers.emplace("cookie", cookie);
    return site->Handle({"POST", "/requests/" + std::to_string(id) + "/cancel", {{"csrf", token}}, std::move(headers), "192.0.2.9"}).status;
  };
  EXPECT_EQ(post(1, "", {{"origin", kOrigin}}), 403);
  EXPECT_EQ(post(1, csrf, {}), 403);  // neither Origin nor Referer
  EXPECT_EQ(post(1, csrf, {{"origin", "http://127.0.0.1:9999"}}), 403);
  EXPECT_EQ(post(1, csrf, {{"origin", "null"}}), 403);
  EXPECT_EQ(post(1, csrf, {{"referer", "http://127.0.0.1:9999/requests/1/cancel"}}), 403);
  EXPECT_EQ(post(1, std::string(64, 'a'), {{"origin", kOrigin}, {"cookie", "qar_session_8470=" + std::string(64, 'a')}}), 401);
  EXPECT_EQ(Status(1), "P");
  const auto shown = [&](const std::string& path) { return site->Handle(Get(path, {{"notice", "cancelled"}})).body; };
  EXPECT_EQ(shown("/requests/1").find("is cancelled"), std::string::npos);  // a forged notice
  EXPECT_EQ(post(1, csrf, {{"referer", std::string(kOrigin) + "/requests/1/cancel"}}), 303);
  EXPECT_EQ(Status(1), "C");
  EXPECT_NE(shown("/requests/1").find("is cancelled (status C)"), std::string::npos);
  EXPECT_NE(shown("/requests/1").find(" from 192.0.2.9</li>"), std::string::npos);  // the recorded cancel
  EXPECT_EQ(shown("/requests/1").find("/cancel\""), std::string::npos);            // offered only while pending
  EXPECT_EQ(post(1, csrf, {{"origin", kOrigin}}), 409);  // no longer pending
  EXPECT_EQ(post(3, csrf, {{"origin", kOrigin}}), 303);  // expired
  THttpRequest script{"POST", "/requests/2/cancel", {}, {{"host", "127.0.0.1:8470"}, {"authorization", std::string("Bearer ") + kToken}}};
  EXPECT_EQ(site->Handle(script).status, 409);
  EXPECT_EQ(Status(2), "OK");
}

// The request an agent (this process, in the state store) supervises is running, not pending.
TEST_F(StatusSiteTest, TheSupervisedRequestIsRunning) {
  Insert("P", "{}", 0, "Server=db;PWD=hunter2");
  Insert("P", "{}");
  state::TAgentRecord agent;
  agent.lastError = "login failed: Password=hunter2";
  agent.pid = platform::CurrentProcessId();
  agent.instance = platform::ProcessInstance(agent.pid);
  agent.exe = Dir() + "QarSnc.exe";
  agent.lastPoll = platform::NowUtc();
  agent.request = "2";
  state::TStateStore::OpenForAgent(state::StateStorePath()).Write({agent, {}});
  const std::string status = Site()->Handle(Get("/api/status")).body;
  ASSERT_NE(status.find("\"storeError\":null"), std::string::npos) << "the state store was not read: " << status;
  EXPECT_NE(status.find("\"queue\":{\"pendingToday\":1,\"expired\":0,\"running\":1}"), std::string::npos) << status;
  const std::string page = Site()->Handle(Get("/requests")).body;
  EXPECT_NE(page.find("P (running)"), std::string::npos);
  EXPECT_NE(page.find("<td>P</td>"), std::string::npos);
  for (const std::string& shown : {status, page, Site()->Handle(Get("/")).body, Site()->Handle(Get("/api/requests")).body})
    EXPECT_EQ(shown.find("hunter2"), std::string::npos) << shown;
  EXPECT_NE(Site()->Handle(Get("/requests", {{"status", "running"}})).body.find("1 running"), std::string::npos);
}

// A run's output is read only from its own file in the output directory and only as a
// regular file; its text shows as UTF-8 or Windows-1252, controls as symbols, passwords masked.
TEST_F(StatusSiteTest, ARunsOutputIsReadOnlyFromItsOwnRegularFile) {
  Insert("P", "{}");
  const std::string dir = WorkerOutputDirectory();
  std::filesystem::create_directories(dir);
  const auto own = [&](const char* hex, int request = 1) { return dir + platform::kPathDelim + WorkerOutputName(request, 46000.5, hex); };
  std::ofstream(own("0000000a"), std::ios::binary) << std::string(20000, 'x') << std::string("caf\xC3\xA9 \0\x01 Password=hunter2\n", 26);
  std::ofstream(own("0000000b"), std::ios::binary) << "caf\xE9";
  std::vector<std::string> outputs{own("0000000a"), own("0000000b"), "/etc/passwd", "/proc/self/environ", "/dev/zero",
                                   dir + "/../x/" + WorkerOutputName(1, 46000.5, "0000000c"), own("0000000d", 2)};
  if (platform::kPathDelim == '/') {
    ASSERT_EQ(std::system(("mkfifo " + own("0000000e")).c_str()), 0);
    std::filesystem::create_symlink("/dev/zero", own("0000000f"));
    outputs.insert(outputs.end(), {own("0000000e"), own("0000000f")});
  }
  state::TStateUpdate update;
  for (const std::string& output : outputs) {
    update.runs.push_back({std::to_string(update.runs.size()), 1, 46000.5});
    update.runs.back().output = output;
  }
  state::TStateStore::OpenForAgent(state::StateStorePath()).Write(update);
  const std::string page = Site()->Handle(Get("/requests/1")).body;
  const auto count = [&page](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = page.find(text); at != std::string::npos; at = page.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("is not one of this request"), 5u);
  EXPECT_EQ(count("The output file cannot be read"), outputs.size() - 7);
  EXPECT_EQ(count("caf\u00e9"), 2u) << page;
  EXPECT_NE(page.find("The last 16384 of 20026 bytes"), std::string::npos);
  EXPECT_NE(page.find("\u2400\u2401 Password=********</pre>"), std::string::npos);
}

TEST_F(StatusSiteTest, CountsAndPagesFollowTheFilters) {
  for (int i = 0; i < 120; ++i) Insert(i % 4 == 0 ? "NOK" : "OK", "{}");  // ids 1..120
  Insert("P", "{}");                                                         // 121: its worker runs
  Insert("P", "{\"CDFILIAL\":\"7\",\"CDCAIXA\":\"2\"}");                     // 122
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

  struct Case { std::string status, day, id, page; std::int64_t total; std::size_t rows; std::string first, store = {}, till = {}; };
  for (const Case& c : std::vector<Case>{{"", "", "", "", 124, 50, "124"}, {"", "", "", "3", 124, 24, "24"},
                                         {"NOK", "", "", "", 31, 31, "124"}, {"expired", "", "", "", 1, 1, "125"},
                                         {"", "all", "", "", 126, 50, "126"}, {"", "", "126", "", 1, 1, "126"},
                                         {"running", "", "", "", 1, 1, "125"}, {"", "", "", "", 1, 1, "122", "7", "2"},
                                         {"", "", "", "", 0, 0, "", "7", "1"}}) {
    const TRequestPage page = QueryRequests(connection, ParseRequestFilter(c.status, c.day, c.id, c.page, c.store, c.till), {"125"});
    EXPECT_EQ(page.total, c.total) << c.status << c.day << c.id << c.page;
    ASSERT_EQ(page.rows.size(), c.rows) << c.status << c.day << c.id << c.page;
    if (c.rows != 0) EXPECT_EQ(page.rows.front().id, c.first);
  }
  // A row its worker marked done after the agent ended it for a cancellation is cancelled,
  // one without a status done; the indexes made with the table change no count.
  Insert("OK", "{}", 0, "Cancelado pelo operador");
  db_.Execute("INSERT INTO CTRLEXECREM (DSOPERACAO) VALUES ('{}')");
  CreateControlTableIndexes(db_);
  const TQueueCounts more = CountQueue(connection, {});
  EXPECT_EQ(std::vector<std::int64_t>({more.pendingToday, more.done, more.failed, more.cancelled, more.expired}),
            std::vector<std::int64_t>({2, 91, 30, 3, 1}));
  EXPECT_THROW(ParseRequestFilter("P'--", "", "", ""), EUsageError);
  EXPECT_THROW(ParseRequestFilter("", "2026-13", "", ""), EUsageError);
  EXPECT_THROW(ParseRequestFilter("", "", "", "", "7%"), EUsageError);
  EXPECT_EQ(Site()->Handle(Get("/requests", {{"page", "0"}})).status, 400);
  // The page's connection cannot write.
  EXPECT_THROW(connection.Execute("UPDATE CTRLEXECREM SET IDSTCTRLEXECREM = 'X'"), EDataError);
}

// Every entry is shown, an odd one as it is, newest first, passwords masked.
TEST_F(StatusSiteTest, LogEntriesAreSplitAtTheirSeparatorsWithTheirTimes) {
  const std::string log = "--------\r\n14:03:27\r\n--------\r\nSQL: \r\n   select 1\r\n\r\n--------\r\n14:05:00\r\n--------\r\nErro: \r\n   x\r\n";
  std::ofstream(Dir() + "a_20260105_Error.log", std::ios::binary) << "cut;PWD=hunter2\r\n" << log << "--------\n2026-01-05\n--------\nodd\n";
  const std::vector<TLogEntry> entries = ReadTodaysLogEntries(Dir(), "", "20260105");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[2].time, "14:03:27");
  EXPECT_EQ(entries[2].text, "SQL: \n   select 1");
  EXPECT_EQ(entries[0].time + entries[0].text, "2026-01-05odd");
  EXPECT_EQ(entries[3].text, "cut;PWD=*******");
  const std::string report = std::string(77, '=') + "\r\nTitle\r\n" + std::string(77, '=') + "\r\nData/Hora .: 05/12/2026 14:03:29\r\nDLL .......: x\r\n";
  EXPECT_EQ(SplitLogEntries("tr_report.txt", report).at(0).time, "05/12/2026 14:03:29");
}

// The metrics count every entry of today's logs, not one page of the logs view.
TEST_F(StatusSiteTest, TheMetricsCountAllOfTodaysLogEntries) {
  std::ofstream log(Dir() + "a_" + platform::FormatDateTime("yyyymmdd", platform::Now()) + "_Error.log", std::ios::binary);
  for (std::size_t i = 0; i < kMaxLogEntries + 100; ++i) log << "--------\r\n14:03:27\r\n--------\r\nErro: x\r\n";
  log.close();
  EXPECT_EQ(CollectMetrics({"", Dir(), Dir()}).errorLogEntriesToday, std::int64_t{kMaxLogEntries + 100});
}

// Addresses are resolved before they are judged: no spelling of the wildcard passes,
// and a name is what it resolves to, whatever it looks like.
TEST(ServeArguments, TheAddressIsResolvedAndNoWildcardIsServed) {
  struct Case { std::string listen; std::string address; int port; };
  for (const Case& c : std::vector<Case>{{"", "127.0.0.1", 8470}, {"127.0.0.2:0", "127.0.0.2", 0}, {"127.1:9000", "127.0.0.1", 9000},
                                         {"[::1]:9000", "::1", 9000}, {"192.0.2.7:8470", "192.0.2.7", 8470},
                                         {"0:8470", "", 0}, {"0.0.0.00:8470", "", 0}, {"[0::0]:8470", "", 0}, {"[::]:1", "", 0},
                                         {"[::ffff:0.0.0.0]:8470", "", 0}, {"0.0.0.0:8470", "", 0},
                                         {"127.evil.example:8470", "", 0}, {"::1:80", "", 0}, {"127.0.0.1:70000", "", 0}}) {
    std::vector<std::string> args{"serve"};
    if (!c.listen.empty()) args.insert(args.end(), {"--listen", c.listen});
    if (c.address.empty()) {
      EXPECT_THROW(ParseServeArguments(args), EUsageError) << c.listen;
      continue;
    }
    const TServeOptions options = ParseServeArguments(args);
    EXPECT_EQ(options.address, c.address);
    EXPECT_EQ(options.port, c.port);
  }
  EXPECT_THROW(ParseServeArguments({"serve", "--port", "1"}), EUsageError);
}

// A token file is the user's alone (as ssh wants a key) and holds a token an address
// carries unchanged.
TEST_F(StatusSiteTest, ATokenFileIsPrivateAndHoldsAUrlSafeTokenOfSixteenCharactersOrMore) {
  const std::optional<std::string> runtime = platform::GetEnv("XDG_RUNTIME_DIR");
  platform::SetEnv("XDG_RUNTIME_DIR", Dir());  // POSIX: the file goes here (Windows: the temporary directory)
  for (const auto& [text, ok] : std::vector<std::pair<std::string, bool>>{
           {"  0123456789abcdef-._~XYZ \r\nsecond line", true}, {"0123456789abcde\n", false},
           {"0123456789abcdef+/ab=\n", false}, {"", false}}) {
    const std::string file = platform::WritePrivateFile("qar_token_test_" + std::to_string(platform::CurrentProcessId()), text);
    if (ok) {
      EXPECT_EQ(ReadTokenFile(file), "0123456789abcdef-._~XYZ");
    } else {
      EXPECT_THROW(ReadTokenFile(file), ECommandError) << text;
    }
    std::remove(file.c_str());
  }
  runtime ? platform::SetEnv("XDG_RUNTIME_DIR", *runtime) : platform::UnsetEnv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace qar::tools
