// The common ground of the end-to-end cases: an installation, its control table and the programs started on it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "data/ado_connection.h"
#include "data/ado_query.h"
#include "installation.h"
#include "state/control_table.h"

namespace qar::e2e {

using state::JoinStatementLines;
using state::kCreateTable;

// Bound, in seconds, of a wait for one step of the programs under test (a start, a
// dispatch, a supervision pass of 10 s). Generous, for a loaded machine or Wine; a
// passing case waits far less. Nothing is ever waited for a time.
inline constexpr double kBound = 120;
inline constexpr std::size_t npos = std::string::npos;

class AgentCase : public ::testing::Test {
 protected:
  explicit AgentCase(const std::string& base = platform::TempDirectory()) : installation_(base) {}
  struct ToolRun {
    std::optional<int> exitCode;  // nothing when it did not end in time
    std::string out, err;
  };

  // Nothing of the case outlives it: its agents (also one a restart started) and its
  // workers end before the installation goes. Only this installation's are touched.
  void TearDown() override {
    ReleaseWorkers();
    agents_.clear();
    WaitUntil([this] {
      std::size_t left = 0;
      for (const std::string& exe : {installation_.AgentPath(), installation_.WorkerPath(), WorkerBinary()}) {
        for (const platform::TProcessHandle& process : platform::FindProcessesOfFile(exe)) left += process.Terminate().ok;
      }
      return left == 0;
    }, kBound);
  }

  // Where a script worker (see ScriptWorker) finds the stand-in worker's program.
  std::string WorkerBinary() const { return installation_.Dir() + "QarTab.bin"; }

  // Starts the installation's QarSnc.exe in its directory, its output in agent<n>.out and .err.
  ChildProcess& StartAgent(const std::vector<std::string>& args = {}) {
    const std::string base = installation_.Dir() + "agent" + std::to_string(agents_.size());
    return *agents_.emplace_back(std::make_unique<ChildProcess>(installation_.AgentPath(), args, installation_.Dir(), base));
  }
  std::string AgentLog(std::size_t index = 0, const char* stream = "err") const {
    return installation_.ReadText("agent" + std::to_string(index) + "." + stream);
  }
  static std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != npos; at = text.find(part, at + 1)) ++count;
    return count;
  }
  std::size_t ErrorCount(std::size_t index = 0) const { return Occurrences(AgentLog(index), "]: error: "); }
  bool WaitForLog(const std::string& text, std::size_t index = 0) const {
    return WaitUntil([&] { return AgentLog(index).find(text) != npos; }, kBound);
  }
  // Runs the installation's QarCfg.exe to its end, in its directory.
  ToolRun RunAdminTool(const std::vector<std::string>& args) {
    const std::string base = "qarcfg" + std::to_string(++toolRuns_);
    const auto code = ChildProcess(installation_.AdminToolPath(), args, installation_.Dir(), installation_.Dir() + base).Wait(kBound);
    return {code, installation_.ReadText(base + ".out"), installation_.ReadText(base + ".err")};
  }

  // Workers started from now on work until ReleaseWorkers(), then report `status`.
  void HoldWorkers(const std::string& status = "OK") const {
    installation_.ConfigureWorker({"hold=" + installation_.Dir() + "hold", "status=" + status});
    std::ofstream(platform::ToNativePath(installation_.Dir() + "hold")) << "hold";
  }
  void ReleaseWorkers() const {
    std::error_code ignored;
    std::filesystem::remove(platform::ToNativePath(installation_.Dir() + "hold"), ignored);
  }
  std::size_t RunningWorkers() const { return ProcessesOfFile(installation_.WorkerPath()); }
  // The worker's runs so far (QarTab.log has a line "<parameter string> pid=<id>" for
  // each), or those for request `id` with the operation's values.
  std::size_t WorkerStarts(const std::string& parameter = "") const {
    return Occurrences(installation_.ReadText("QarTab.log"), parameter + " pid=");
  }
  std::size_t WorkerStarts(long long id, const std::string& branch, const std::string& till) const {
    return WorkerStarts("SYNC_" + std::to_string(id) + "_" + branch + "_" + till + "_");
  }
  bool WaitForWorker(long long id, const std::string& branch, const std::string& till) const {
    return WaitUntil([&] { return WorkerStarts(id, branch, till) > 0; }, kBound);
  }

  // The control table as requesters and operators use it, each statement on a
  // connection of its own: the case never holds the file while the agent works.
  std::unique_ptr<TADOConnection> Connect() const {
    auto connection = std::make_unique<TADOConnection>();
    connection->SetConnectionString(SqliteConnectionString(installation_.DatabaseFile()));
    return connection;
  }
  void Sql(const std::string& text) const { Connect()->Execute(text); }
  int Request(const std::string& branch, const std::string& till) const {  // a pending row; its id
    Sql("INSERT INTO CTRLEXECREM (CDAPP, TPOPERACAO, DSOPERACAO, IDSTCTRLEXECREM) VALUES ('E2E', 'SYNC', "
        "'{\"CDFILIAL\":\"" + branch + "\",\"CDCAIXA\":\"" + till + "\"}', 'P')");
    return std::stoi(Field("SELECT MAX(IDCTRLEXECREM) AS F FROM CTRLEXECREM"));
  }
  std::string Field(const std::string& select) const {  // the column F of the first row
    const auto connection = Connect();
    TADOQuery query;
    query.SetConnection(connection.get());
    query.SQL().Add(select);
    query.Open();
    return query.FieldByName("F").AsString();
  }
  std::string Row(long long id, const char* column = "IDSTCTRLEXECREM") const {
    return Field(std::string("SELECT ") + column + " AS F FROM CTRLEXECREM WHERE IDCTRLEXECREM = " + std::to_string(id));
  }
  bool WaitForStatus(long long id, const std::string& status) const {
    return WaitUntil([&] { return Row(id) == status; }, kBound);
  }
  bool WaitForTable() const {
    return WaitUntil([&] { return !Field("SELECT COUNT(*) AS F FROM CTRLEXECREM").empty(); }, kBound);
  }

  Installation installation_;
  std::vector<std::unique_ptr<ChildProcess>> agents_;
  int toolRuns_ = 0;
};

}  // namespace qar::e2e
