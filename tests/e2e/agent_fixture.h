// The common ground of the end-to-end cases: an installation, its database and the agents started on it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "ctrlexecrem_client.h"
#include "installation.h"
#include "config/AgentStatus.h"
#include "platform/module.h"
#include "platform/mutex.h"

namespace qar::e2e {

// Bound, in seconds, of a wait for one step of the programs under test (a start, a
// dispatch, a supervision pass of 10 s). Generous, for a loaded machine or Wine; a
// passing case waits far less. Nothing is ever waited for a time.
inline constexpr double kBound = 120;

class AgentCase : public ::testing::Test {
 protected:
  struct ToolRun {
    std::optional<int> exitCode;  // nothing when it did not end in time
    std::string out, err;
  };

  // Nothing of the case outlives it: its agents (also one a restart started) and
  // its workers are ended before the installation goes. Only this installation's
  // files are looked for: other agents on the machine are never touched.
  void TearDown() override {
    ReleaseWorkers();
    agents_.clear();
    EndProcessesOfFile(installation_.AgentPath());
    EndProcessesOfFile(installation_.WorkerPath());
    WaitUntil([this] { return RunningWorkers().empty() && ProcessesOfFile(installation_.AgentPath()).empty(); },
              kBound);
  }

  // Starts the installation's QarSnc.exe in its directory; its log goes to agent<n>.err.
  ChildProcess& StartAgent(const std::vector<std::string>& args = {}) {
    const std::string base = installation_.Dir() + "agent" + std::to_string(agents_.size());
    return *agents_.emplace_back(
        std::make_unique<ChildProcess>(installation_.AgentPath(), args, installation_.Dir(), base));
  }

  // What the n-th started agent logged so far, and its failures ("error: " lines).
  std::string AgentLog(std::size_t index = 0) const {
    return installation_.ReadText("agent" + std::to_string(index) + ".err");
  }
  std::string AgentErrors(std::size_t index = 0) const {
    std::string errors;
    std::istringstream lines(AgentLog(index));
    for (std::string line; std::getline(lines, line);) {
      if (line.find("]: error: ") != std::string::npos) errors += line + "\n";
    }
    return errors;
  }
  bool WaitForLog(const std::string& text, std::size_t index = 0) const {
    return WaitUntil([&] { return AgentLog(index).find(text) != std::string::npos; }, kBound);
  }

  // Runs the build's QarCfg.exe to its end, in the installation's directory.
  ToolRun RunAdminTool(const std::vector<std::string>& args) {
    const std::string base = "qarcfg" + std::to_string(++toolRuns_);
    ChildProcess tool(installation_.AdminToolPath(), args, installation_.Dir(), installation_.Dir() + base);
    const std::optional<int> code = tool.Wait(kBound);
    return {code, installation_.ReadText(base + ".out"), installation_.ReadText(base + ".err")};
  }

  // Workers started from now on work until ReleaseWorkers() (and report `status`).
  void HoldWorkers(const std::string& status = "OK") {
    installation_.ConfigureWorker({"hold=" + HoldFile(), "status=" + status});
    std::ofstream(platform::ToNativePath(HoldFile())) << "hold";
  }
  void ReleaseWorkers() const {
    std::error_code ignored;
    std::filesystem::remove(platform::ToNativePath(HoldFile()), ignored);
  }
  std::string HoldFile() const { return installation_.Dir() + "worker.hold"; }

  // How often the worker was started with this parameter string.
  std::size_t WorkerStarts(const std::string& parameter) const {
    const std::vector<WorkerRun> runs = installation_.WorkerRuns();
    return static_cast<std::size_t>(
        std::ranges::count_if(runs, [&](const WorkerRun& run) { return run.parameter == parameter; }));
  }

  std::vector<std::uint32_t> RunningWorkers() const { return ProcessesOfFile(installation_.WorkerPath()); }

  bool WaitForWorker(const std::string& parameter) const {
    return WaitUntil([&] { return WorkerStarts(parameter) > 0; }, kBound);
  }

  bool WaitForStatus(long long id, const std::string& status) const {
    return WaitUntil([&] { return table_.Read(id).status == status; }, kBound);
  }

  // Waits until the agent published that it supervises request `id`.
  bool WaitForPublishedRequest(int id) const {
    return WaitUntil([&] {
      const auto note = platform::NamedMutex::ReadPublished(config::kAgentMutexName);
      return note && config::ParseAgentStatus(*note).request == std::to_string(id);
    }, kBound);
  }

  // Waits for the agent to be past its start-up: the control table exists.
  bool WaitForTable() const { return WaitUntil([&] { return table_.TableExists(); }, kBound); }

  // "SYNC_<id>_<branch>_<till>_", as the agent builds it.
  static std::string Parameter(long long id, const std::string& branch, const std::string& till) {
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
