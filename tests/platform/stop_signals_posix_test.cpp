// POSIX only: what ends the agent says so, and its log reaches the journal once.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/environment.h"
#include "platform/stop_request.h"
#include "platform/systemlog.h"

namespace qar::platform {
namespace {

// The wait status of `body` run in a child, and what it wrote to its standard error.
template <typename Body>
std::pair<int, std::string> InChild(Body body) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {-1, {}};
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeEnds[1], STDERR_FILENO);
    ::close(pipeEnds[0]);
    _exit(body());
  }
  ::close(pipeEnds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return {status, text};
}

// TERM and INT end cleanly with 0, HUP with the restart code asked for, any other with 128 + n.
// A fault of the program's own cannot wait for a clean end: its line, then the signal.
TEST(StopSignals, EveryTerminatingSignalEndsCleanlyAndNamesItselfAndAFaultStillEndsTheProcess) {
  const struct { int signal; int code; const char* reason; } cases[] = {
      {SIGTERM, 0, "SIGTERM"}, {SIGINT, 0, "SIGINT"}, {SIGHUP, 75, "SIGHUP"}, {SIGQUIT, 128 + SIGQUIT, "SIGQUIT"},
      {SIGUSR1, 128 + SIGUSR1, "SIGUSR1"}, {SIGPIPE, 128 + SIGPIPE, "SIGPIPE"}, {SIGRTMIN + 2, 128 + SIGRTMIN + 2, "SIGRTMIN+2"},
  };
  for (const auto& c : cases) {
    const auto [status, err] = InChild([&c] {
      CatchStopSignals("T", 75);
      ::kill(::getpid(), c.signal);
      if (!WaitForStop(std::chrono::seconds(60))) return 1;
      return StopReason() == c.reason && StopExitCode() == c.code ? 0 : 2;
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.reason << ": status " << status << " " << err;
  }
  const auto [status, err] = InChild([] {
    CatchStopSignals("T");
    ::raise(SIGABRT);
    return 0;
  });
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
  EXPECT_NE(err.find("]: error: ended by SIGABRT\n"), std::string::npos) << err;
}

// Only the very stream JOURNAL_STREAM names is the journal, not a redirected standard error.
TEST(SystemLog, StandardErrorIsTheJournalOnlyWhenItIsTheStreamNamed) {
  struct stat err {};
  ASSERT_EQ(::fstat(STDERR_FILENO, &err), 0);
  const std::string own = std::to_string(err.st_dev) + ":" + std::to_string(err.st_ino),
                    other = std::to_string(err.st_dev) + ":" + std::to_string(err.st_ino + 1);
  const auto saved = GetEnv("JOURNAL_STREAM");
  const struct { std::optional<std::string> value; bool journal; } cases[] = {
      {std::nullopt, false}, {own, true}, {other, false}, {own + "x", false}, {"", false}, {"journal", false}};
  for (const auto& c : cases) {
    c.value ? SetEnv("JOURNAL_STREAM", *c.value) : UnsetEnv("JOURNAL_STREAM");
    EXPECT_EQ(StandardErrorIsJournal(), c.journal) << c.value.value_or("(unset)");
  }
  saved ? SetEnv("JOURNAL_STREAM", *saved) : UnsetEnv("JOURNAL_STREAM");
}

}  // namespace
}  // namespace qar::platform
