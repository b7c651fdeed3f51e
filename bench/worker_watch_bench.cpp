// The supervision's look at a run (the whole process table, read once per look)
// against a bare walk of /proc that reads the same files per process: its stat,
// its directory's owner and, for this user's, its environ. POSIX only: it walks
// /proc and starts `sleep` children so that the table is not trivially small.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "agent/worker_watch.h"
#include "bench_sandbox.h"
#include "platform/process.h"

extern char** environ;

namespace qar::agent {
namespace {

std::string& AgentDir() {
  static std::string dir;
  return dir;
}

// One look at a running worker, as each supervision pass makes it, with a second
// run held so that its key is among the marks.
void BM_WorkerLook(benchmark::State& state) {
  const std::unique_ptr<TWorkers> workers = SystemWorkers(AgentDir());
  TWorkerStart start;
  start.path = "/bin/sleep";
  start.params = "1000";
  start.request = "1";
  start.runKey = "bench-run";
  const TWorkerStarted started = workers->Start(start);
  if (!started.result.ok) {
    state.SkipWithError(("worker not started: " + started.result.message).c_str());
    return;
  }
  const TWorkerRun run{start.request, start.runKey, started.pid, started.instance};
  const std::vector<std::string> held{run.key, "other-run"};
  std::size_t seen = 0;
  for (auto _ : state) {
    const TRunLook look = workers->Look(run, held);
    if (!look.workerRuns) state.SkipWithError("worker not seen");
    seen += look.others.size() + look.strays.size();
  }
  state.counters["others+strays"] = static_cast<double>(seen) / static_cast<double>(state.iterations());
  workers->Stop(run);
  // Reaped by a look once it has ended.
  for (int i = 0; i < 10000 && workers->Look(run, held).workerRuns; ++i) usleep(1000);
}
BENCHMARK(BM_WorkerLook)->Unit(benchmark::kMicrosecond);

// The process table alone, with the marks a look asks for.
void BM_ListProcesses(benchmark::State& state) {
  const std::vector<std::string> marks{WorkerMarker(AgentDir()), WorkerRunItem("bench-run"), WorkerRunItem("other-run")};
  std::size_t listed = 0;
  for (auto _ : state) listed = platform::ListProcesses(marks).size();
  state.counters["processes"] = static_cast<double>(listed);
}
BENCHMARK(BM_ListProcesses)->Unit(benchmark::kMicrosecond);

// The least a look can do: per process open/read/close its stat, stat its directory
// for the owner and, for this user's, open/read/close its environ.
void BM_BareProcWalk(benchmark::State& state) {
  static char buffer[1 << 16];
  const uid_t uid = getuid();
  for (auto _ : state) {
    std::size_t read = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      char path[300];  // room for any d_name
      std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
      int fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      while (::read(fd, buffer, sizeof buffer) > 0) ++read;
      close(fd);
      struct stat owner {};
      std::snprintf(path, sizeof path, "/proc/%s", entry->d_name);
      if (stat(path, &owner) != 0 || owner.st_uid != uid) continue;
      std::snprintf(path, sizeof path, "/proc/%s/environ", entry->d_name);
      fd = open(path, O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      while (::read(fd, buffer, sizeof buffer) > 0) ++read;
      close(fd);
    }
    closedir(proc);
    benchmark::DoNotOptimize(read);
  }
}
BENCHMARK(BM_BareProcWalk)->Unit(benchmark::kMicrosecond);

// Children that fill the table; killed and reaped at the end.
class TSleepers {
 public:
  explicit TSleepers(int count) {
    char sleep[] = "sleep", seconds[] = "1000";
    char* argv[] = {sleep, seconds, nullptr};
    for (int i = 0; i < count; ++i) {
      pid_t pid = 0;
      if (posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ) == 0) pids_.push_back(pid);
    }
  }
  ~TSleepers() {
    for (const pid_t pid : pids_) kill(pid, SIGKILL);
    for (const pid_t pid : pids_)
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
  }
  TSleepers(const TSleepers&) = delete;
  TSleepers& operator=(const TSleepers&) = delete;

 private:
  std::vector<pid_t> pids_;
};

}  // namespace
}  // namespace qar::agent

int main(int argc, char** argv) {
  const qar::bench::TBenchSandbox sandbox("qar_worker_watch_bench");
  qar::agent::AgentDir() = sandbox.Dir();
  const qar::agent::TSleepers sleepers(50);
  return qar::bench::RunBenchmarks(argc, argv);
}
