// The cached server settings against a real registry.
#include <gtest/gtest.h>

#include <latch>
#include <thread>

#include "diagnostics_sandbox.h"

namespace qar::diagnostics {

using SettingsTest = testing::DiagnosticsSandbox;
using testing::Answers;

// Each case: the settings, the answers (see Answers), the settings changed, the answers
// again (if not the same). A value once read is kept for the process, except the "not
// read yet" markers (a dword of 255 reads as -1, a list reading "LOADREG") and a list or
// directory of another type, which fails its first request only.
TEST_F(SettingsTest, EachSettingIsReadOnceAsTheLowByteTheListOrTheDirectory) {
  const std::string x255(255, 'x'), d250(250, 'd'), logs = std::string("D:\\logs") + platform::kPathDelim;
  const struct {
    std::string settings;
    std::vector<std::string> operators;
    std::string answers, changed{}, answersAfter{};
  } cases[] = {
      {"SqlMonitor=1", {"ANA"}, "00 0 0 temp", "TunningID=#1|SqlMonitor=#1|TmpFileDir=E:\\"},
      {"TunningID=#1|SqlMonitor=#1|TmpFileDir=D:\\logs\\", {"ANA", ""}, "11 1 11 D:\\logs\\",
       "TunningID=#0|SqlMonitor=#0|SqlMonUser=X|TmpFileDir=E:\\"},
      {"TunningID=#257|SqlMonitor=#2|SqlMonUser=ANA;PEDRO|TmpFileDir=D:\\logs", {"ANA", "ana", "AN", "A;P", "", "MARIA"},
       "11 2 101100 " + logs},
      {"TunningID=#2|SqlMonitor=#256|TmpFileDir=" + d250, {"ANA"}, "00 0 0 " + d250.substr(0, 200)},
      {"SqlMonitor=#200|TmpFileDir=", {}, "00 -56  temp"},
      {"SqlMonitor=#255", {""}, "00 -1 0 temp", "SqlMonitor=#4|SqlMonUser=", "01 4 1 temp"},
      {"SqlMonitor=#1|SqlMonUser=" + x255 + "ANA", {"ANA", x255, x255 + "y"}, "01 1 011 temp"},
      {"SqlMonitor=#1|SqlMonUser=LOADREG", {"LOAD", "ANA"}, "01 1 10 temp", "SqlMonUser=ANA", "01 1 01 temp"},
      {"SqlMonitor=#1|SqlMonUser=#7|TmpFileDir=#5", {"ANA"}, "01 1 0 ", "", "01 1 1 temp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.substr(0, 70));
    RemoveSettings();
    Store(c.settings);
    EXPECT_EQ(SqlMonitorLevel(), -1);
    EXPECT_EQ(Answers(c.operators), c.answers);
    Store(c.changed, false);
    EXPECT_EQ(Answers(c.operators), c.answersAfter.empty() ? c.answers : c.answersAfter);
  }
}

// Without serialised first reads a thread could see the provisional "off" of a read
// in progress on another thread.
TEST_F(SettingsTest, ConcurrentFirstReadsAllSeeTheRegistryValues) {
  Store("SqlMonitor=#2|SqlMonUser=ANA;PEDRO|TmpFileDir=" + LogDir());
  std::vector<std::string> answers(8);
  std::latch start(8);
  {
    std::vector<std::jthread> threads;
    for (std::string& a : answers) threads.emplace_back([&] { start.arrive_and_wait(); a = Answers({"PEDRO"}); });
  }
  EXPECT_EQ(answers, std::vector<std::string>(8, "01 2 1 " + LogDir()));
}

}  // namespace qar::diagnostics
