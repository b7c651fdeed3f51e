// What the state store's readers make of rows that any member of the installation's
// group may have written. The input fills one agent row and one run row column by
// column: each value is a tag byte (0 NULL, 1 integer, 2 real from any 8 bytes, else
// text of the length in the next byte) and its bytes. The readers never raise; every
// time they give is 0 or a date, every age and duration is not known or within
// [0, kLongestAgeSeconds], every pid fits a process id, and the JSON of a run is made.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/driver_session.h"
#include "fuzz_check.h"
#include "platform/process.h"
#include "state/state_store.h"
#include "tools/state_json.h"

namespace {

using qar::Variant;
using namespace qar::state;

constexpr const char* kFile = "state_store_fuzz.db";
constexpr const char* kAgentInsert =
    "INSERT OR REPLACE INTO AGENTS (INSTANCE, PID, USERNAME, EXE, STARTED, LASTPOLL, LASTERROR, LASTERRORAT, REQUEST,"
    " REQUESTSINCE, WORKERPID, ROLE, POLLSTEADY, BOOTID, ENDED) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
constexpr const char* kRunInsert =
    "INSERT OR REPLACE INTO RUNS (RUNKEY, REQUEST, STARTED, ENDED, OUTCOME, CODE, LEFTPENDING, OUTPUTFILE, NOTE,"
    " AGENTPID, AGENTUSER, AGENTEXE, WORKERPID, AGENTINSTANCE, WORKERINSTANCE, STARTSTEADY, ENDSTEADY, BOOTID)"
    " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  Variant Next() {
    switch (Byte()) {
      case 0: return Variant::Null();
      case 1: return Variant(static_cast<std::int64_t>(Word()));
      case 2: {
        const std::uint64_t bits = Word();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return Variant(value);
      }
      default: {
        std::string text;
        for (std::size_t n = Byte(); n > 0 && at_ < size_; --n) text += static_cast<char>(Byte());
        return Variant(text);
      }
    }
  }

 private:
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint64_t Word() {
    std::uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | Byte();
    return word;
  }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

bool Insert(qar::TDriverSession& session, const char* statement, std::size_t columns, TInput& input) {
  std::vector<qar::TDriverParameter> parameters(columns);
  for (qar::TDriverParameter& p : parameters) p.value = input.Next();
  try {
    session.Execute(statement, parameters, std::nullopt);
    return true;
  } catch (const std::exception&) {
    return false;  // a NULL where the schema refuses one: nobody can store it
  }
}

bool AgeInRange(const std::optional<double>& age) { return !age || (*age >= 0 && *age <= kLongestAgeSeconds); }
bool TimeInRange(double time) { return time == 0 || qar::platform::IsValidDateTime(time); }

void CheckRun(const TRunRecord& run) {
  QAR_FUZZ_CHECK(AgeInRange(run.durationSeconds));
  QAR_FUZZ_CHECK(TimeInRange(run.started) && TimeInRange(run.ended));
  QAR_FUZZ_CHECK(run.agentPid <= INT32_MAX && run.workerPid <= INT32_MAX);
  QAR_FUZZ_CHECK(!qar::tools::RunJson(run).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TStateStore agent = TStateStore::OpenForAgent(kFile);
  static TStateStore reader = TStateStore::OpenForReading(kFile);
  static const std::unique_ptr<qar::TDriverSession> raw = qar::OpenEmbeddedSqlite(kFile);
  std::vector<qar::TDriverParameter> none;
  raw->Execute("DELETE FROM AGENTS", none, std::nullopt);
  raw->Execute("DELETE FROM RUNS", none, std::nullopt);

  TInput input(data, size);
  Insert(*raw, kAgentInsert, 15, input);
  Insert(*raw, kRunInsert, 18, input);
  const TMoment now(46000.5, {1000.0, "b"});
  for (const TAgentRecord& a : reader.Agents(now)) {
    QAR_FUZZ_CHECK(AgeInRange(a.pollAgeSeconds));
    QAR_FUZZ_CHECK(TimeInRange(a.started) && TimeInRange(a.lastPoll) && TimeInRange(a.lastErrorAt) &&
                   TimeInRange(a.requestSince) && TimeInRange(a.ended));
    QAR_FUZZ_CHECK(a.pid <= INT32_MAX && a.workerPid <= INT32_MAX);
  }
  for (const TRunRecord& run : reader.RecentRuns(10, now)) {
    CheckRun(run);
    for (const TRunRecord& same : reader.RunsOfRequest(run.request, now)) CheckRun(same);
  }
  for (const TRequestSummary& s : reader.Summaries(0, now)) {
    QAR_FUZZ_CHECK(s.totalSeconds >= 0 && s.totalSeconds <= kLongestAgeSeconds * s.runs);
    CheckRun(s.last);
  }
  return 0;
}
