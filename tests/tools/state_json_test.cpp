#include "tools/state_json.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace qar::tools {
namespace {

using namespace ::qar::state;

constexpr platform::TUtcDateTime kNoon = 46000.5;  // 2025-12-09 12:00:00 UTC

// Texts from other programs (an error with quotes, a line break, a control
// character and the ANSI 'ã') arrive intact as UTF-8; unknown values are null.
TEST(StateJsonTest, StatusAndListParseWithTheirFields) {
  TStatusReport report;
  TAgentView view;
  view.running = view.responding = true;
  view.record.pid = 41;
  view.record.user = "loja";
  view.record.started = kNoon;
  view.record.lastError = "n\xE3o \"conecta\"\r\n\x01";
  view.record.lastErrorAt = kNoon;
  view.record.request = "17";
  view.record.requestSince = kNoon;
  report.agents = {view, TAgentView{}};
  report.leftWorkers = {{"9", 0, kNoon, 40, "caixa"}};
  report.queueError = "CTRLEXECREM cannot be read";

  const nlohmann::json status = nlohmann::json::parse(StatusJson(report));
  EXPECT_EQ(status["version"], 1);
  EXPECT_EQ(status["running"], true);
  ASSERT_EQ(status["agents"].size(), 2u);
  EXPECT_EQ(status["agents"][0]["lastError"]["text"], "n\u00e3o \"conecta\"\r\n\x01");
  EXPECT_EQ(status["agents"][0]["request"]["since"],  // shown in local time
            platform::FormatDateTime("yyyy-mm-dd hh:nn:ss", platform::UtcToLocal(kNoon)));
  EXPECT_TRUE(status["agents"][0]["request"]["workerPid"].is_null());
  EXPECT_TRUE(status["agents"][1]["request"].is_null());
  EXPECT_TRUE(status["agents"][1]["started"].is_null());
  EXPECT_TRUE(status["leftWorkers"][0]["pid"].is_null());
  EXPECT_TRUE(status["queue"].is_null());
  EXPECT_EQ(status["queueError"], "CTRLEXECREM cannot be read");

  TListedRequest ran;
  ran.row = {"17", "P", "{\"CDFILIAL\":\"1\"}", "2025-12-10 11:00:00", "", false};
  state::TRunRecord last;
  last.end = state::TRunEnd::kExited;
  last.code = 4;
  last.leftPending = true;
  ran.runs = state::TRequestSummary{17, 3, 12.5, last};
  const TListedRequest never{{"18", "", "", "", "", false}, true, std::nullopt};
  const nlohmann::json list = nlohmann::json::parse(ListJson({ran, never}));
  ASSERT_EQ(list["requests"].size(), 2u);
  EXPECT_EQ(list["requests"][0]["operation"], "{\"CDFILIAL\":\"1\"}");
  EXPECT_EQ(list["requests"][0]["runs"], 3);
  EXPECT_EQ(list["requests"][0]["lastRun"]["outcome"], "exit");
  EXPECT_EQ(list["requests"][0]["lastRun"]["code"], 4);
  EXPECT_EQ(list["requests"][0]["lastRun"]["leftPending"], true);
  EXPECT_TRUE(list["requests"][0]["lastRun"]["ended"].is_null());  // an end not known
  EXPECT_EQ(list["requests"][1]["running"], true);
  EXPECT_TRUE(list["requests"][1]["lastRun"].is_null());
}

}  // namespace
}  // namespace qar::tools
