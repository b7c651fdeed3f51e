// The common ground of the end-to-end cases: an installation, its database and the agents started on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "ctrlexecrem_client.h"
#include "installation.h"
#include "platform/process.h"
#include "wait_until.h"

namespace qar::e2e {

// Bounds of the waits for the programs under test, in seconds. Generous, because
// a loaded machine (or Wine) may be slow; a passing case waits far less.
inline constexpr double kStartBound = 30;     // an agent through its start-up
inline constexpr double kDispatchBound = 30;  // a pending row to its worker's start
inline constexpr double kCancelBound = 45;    // a cancellation seen by the 10 s supervision

inline constexpr const char* kWorkerName = "QarTab.exe";
inline constexpr const char* kAgentName = "QarSnc.exe";

// What a finished run of a command-line program left behind.
struct ToolRun {
  std::optional<int> exitCode;  // nothing when it did not end in time
  std::string out;
  std::string err;
};

// One agent process the case started, with the file its standard error goes to.
struct StartedAgent {
  std::unique_ptr<ChildProcess> process;
  std::string stderrFile;
};

class AgentCase : public ::testing::Test {
 protected:
  void SetUp() override {
    if (BuiltAgent().empty()) GTEST_SKIP() << "QarSnc.exe is not part of this build";
    installation_ = std::make_unique<Installation>();
    table_ = std::make_unique<CtrlExecRemClient>(installation_->ConnectionStringFor(installation_->DatabaseFile()));
  }

  // Nothing of the case outlives it: its agents (also one a restart started) and
  // its workers are ended before the installation goes.
  void TearDown() override {
    if (!installation_) return;
    agents_.clear();
    for (const std::uint32_t pid : ProcessesOfFile(installation_->AgentPath())) {
      platform::TerminateProcessById(pid);
    }
    for (const std::uint32_t pid : installation_->WorkerPids()) {
      if (IsRunning(pid, kWorkerName)) platform::TerminateProcessById(pid);
    }
    WaitUntil(
        [this] {
          for (const std::uint32_t pid : installation_->WorkerPids()) {
            if (IsRunning(pid, kWorkerName)) return false;
          }
          return ProcessesOfFile(installation_->AgentPath()).empty();
        },
        kStartBound);
    installation_.reset();
  }

  // The control table of the installation's database.
  const CtrlExecRemClient& Table() const { return *table_; }

  // Starts the installation's QarSnc.exe (working directory: the installation).
  ChildProcess& StartAgent(const std::vector<std::string>& args = {}) {
    const std::string base = installation_->Dir() + "agent" + std::to_string(agents_.size());
    agents_.push_back({std::make_unique<ChildProcess>(installation_->AgentPath(), args, installation_->Dir(),
                                                      base + ".out", base + ".err"),
                       "agent" + std::to_string(agents_.size()) + ".err"});
    return *agents_.back().process;
  }

  // Runs the build's QarCfg.exe to its end (working directory: the installation).
  ToolRun RunAdminTool(const std::vector<std::string>& args) {
    const std::string base = "qarcfg" + std::to_string(++toolRuns_);
    ToolRun run;
    {
      ChildProcess tool(installation_->AdminToolPath(), args, installation_->Dir(),
                        installation_->Dir() + base + ".out", installation_->Dir() + base + ".err");
      run.exitCode = tool.Wait(kStartBound);
    }
    run.out = installation_->ReadText(base + ".out");
    run.err = installation_->ReadText(base + ".err");
    return run;
  }

  // What the n-th started agent wrote to its standard error so far.
  std::string AgentErrors(std::size_t index = 0) const { return installation_->ReadText(agents_.at(index).stderrFile); }

  // How often the worker was started with this parameter string.
  std::size_t WorkerStarts(const std::string& parameter) const {
    std::size_t count = 0;
    for (const std::string& started : installation_->WorkerParameters()) count += started == parameter ? 1 : 0;
    return count;
  }

  bool WaitForWorker(const std::string& parameter, double seconds = kDispatchBound) const {
    return WaitUntil([&] { return WorkerStarts(parameter) > 0; }, seconds);
  }

  bool WaitForStatus(int id, const std::string& status, double seconds = kDispatchBound) const {
    return WaitUntil([&] { return table_->Read(id).status == status; }, seconds);
  }

  // Waits for the agent to be past its start-up: the control table exists.
  bool WaitForTable() const {
    return WaitUntil([&] { return table_->TableExists(); }, kStartBound);
  }

  // "SYNC_<id>_<branch>_<till>_", as the agent builds it.
  static std::string Parameter(int id, const std::string& branch, const std::string& till) {
    return "SYNC_" + std::to_string(id) + "_" + branch + "_" + till + "_";
  }

  static std::string Operation(const std::string& branch, const std::string& till) {
    return "{\"CDFILIAL\":\"" + branch + "\",\"CDCAIXA\":\"" + till + "\"}";
  }

  std::unique_ptr<Installation> installation_;
  std::unique_ptr<CtrlExecRemClient> table_;
  std::vector<StartedAgent> agents_;
  int toolRuns_ = 0;
};

}  // namespace qar::e2e
