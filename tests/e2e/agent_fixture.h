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

namespace qar::e2e {

// Bounds, in seconds, of the waits for one step of the programs under test (a start,
// a dispatch; a cancellation waits for the 10 s supervision). Generous, for a loaded
// machine or Wine; a passing case waits far less.
inline constexpr double kBound = 30;
inline constexpr double kCancelBound = 45;

inline constexpr const char* kWorkerName = "QarTab.exe";

class AgentCase : public ::testing::Test {
 protected:
  struct ToolRun {
    std::optional<int> exitCode;  // nothing when it did not end in time
    std::string out, err;
  };

  // Nothing of the case outlives it: its agents (also one a restart started) and
  // its workers are ended before the installation goes.
  void TearDown() override {
    agents_.clear();
    for (const std::uint32_t pid : ProcessesOfFile(installation_.AgentPath())) platform::TerminateProcessById(pid);
    for (const std::uint32_t pid : RunningWorkers()) platform::TerminateProcessById(pid);
    WaitUntil([this] { return RunningWorkers().empty() && ProcessesOfFile(installation_.AgentPath()).empty(); },
              kBound);
  }

  // Starts the installation's QarSnc.exe in its directory; its output goes to agent<n>.out/.err.
  ChildProcess& StartAgent(const std::vector<std::string>& args = {}) {
    const std::string base = installation_.Dir() + "agent" + std::to_string(agents_.size());
    return *agents_.emplace_back(
        std::make_unique<ChildProcess>(installation_.AgentPath(), args, installation_.Dir(), base));
  }

  // What the n-th started agent wrote to its standard error so far.
  std::string AgentErrors(std::size_t index = 0) const {
    return installation_.ReadText("agent" + std::to_string(index) + ".err");
  }

  // Runs the build's QarCfg.exe to its end, in the installation's directory.
  ToolRun RunAdminTool(const std::vector<std::string>& args) {
    const std::string base = "qarcfg" + std::to_string(++toolRuns_);
    ChildProcess tool(BuiltAdminTool(), args, installation_.Dir(), installation_.Dir() + base);
    const std::optional<int> code = tool.Wait(kBound);
    return {code, installation_.ReadText(base + ".out"), installation_.ReadText(base + ".err")};
  }

  // How often the worker was started with this parameter string.
  std::size_t WorkerStarts(const std::string& parameter) const {
    std::size_t count = 0;
    for (const WorkerRun& run : installation_.WorkerRuns()) count += run.parameter == parameter ? 1 : 0;
    return count;
  }

  std::vector<std::uint32_t> RunningWorkers() const {
    std::vector<std::uint32_t> pids;
    for (const WorkerRun& run : installation_.WorkerRuns()) {
      if (IsRunning(run.pid, kWorkerName)) pids.push_back(run.pid);
    }
    return pids;
  }

  bool WaitForWorker(const std::string& parameter) const {
    return WaitUntil([&] { return WorkerStarts(parameter) > 0; }, kBound);
  }

  bool WaitForStatus(int id, const std::string& status, double seconds = kBound) const {
    return WaitUntil([&] { return table_.Read(id).status == status; }, seconds);
  }

  // Waits for the agent to be past its start-up: the control table exists.
  bool WaitForTable() const { return WaitUntil([&] { return table_.TableExists(); }, kBound); }

  // "SYNC_<id>_<branch>_<till>_", as the agent builds it.
  static std::string Parameter(int id, const std::string& branch, const std::string& till) {
    return "SYNC_" + std::to_string(id) + "_" + branch + "_" + till + "_";
  }

  static std::string Operation(const std::string& branch, const std::string& till) {
    return "{\"CDFILIAL\":\"" + branch + "\",\"CDCAIXA\":\"" + till + "\"}";
  }

  Installation installation_;
  const CtrlExecRemClient table_{SqliteConnectionString(installation_.DatabaseFile())};
  std::vector<std::unique_ptr<ChildProcess>> agents_;
  int toolRuns_ = 0;
};

}  // namespace qar::e2e
