// The dispatcher's texts: its log lines and what it writes into a row for the requester (Windows-1252 bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "state/control_table.h"
#include "state/state_store.h"

namespace qar::agent::texts {

// A literal is split where a hex escape is followed by a letter that could continue it.

// ---- DSERRO of a row the agent marks "NOK", for the requester (Portuguese)
inline constexpr std::string_view kNotStarted = "N\xE3o iniciado: ";

inline std::string IdOutOfRange(const std::string& id) {
  return std::string(kNotStarted) + "o id " + id + " excede o par\xE2metro inteiro IDCTRLEXECREM (-2147483648 a 2147483647)";
}

inline std::string ParametersTooLong(std::string_view worker, std::size_t length, std::size_t limit) {
  return std::string(kNotStarted) + "os par\xE2metros do " + std::string(worker) + " t\xEAm " + std::to_string(length) +
         " caracteres, acima do limite de " + std::to_string(limit) + " do sistema";
}

inline std::string RanTooOften(int maxRuns, const std::string& outcome) {
  return "Executado " + std::to_string(maxRuns) + " vezes sem sair de " + state::kStatusPending +
         " (MaxWorkerRuns); \xFAltimo: " + outcome;
}

// ---- the agent's log (English), one line each, always naming the request
inline std::string LeftWorkerRunning(const std::string& request) {
  return "a worker started earlier is running" + (request.empty() ? std::string() : " (request " + request + ")") +
         ": supervising it before any request";
}

inline std::string WorkerCannotStart(const std::string& id, const std::string& path, const std::string& reason) {
  return "request " + id + ": " + path + " cannot be started: " + reason + "; tried again at the next tick";
}

inline std::string WorkerStarted(const std::string& id, const std::string& params) {
  return "request " + id + ": worker started with " + params;
}

inline std::string StartedAgain(const std::string& id, int run, const std::string& lastOutcome, int unlogged) {
  return "request " + id + ": run " + std::to_string(run) + ", started again: the last one ended " + lastOutcome +
         " with the row still " + state::kStatusPending +
         (unlogged > 0 ? " (" + std::to_string(unlogged) + " re-runs since the last line)" : std::string());
}

inline std::string RowUnreadableWhileRunning(const std::string& id, const std::string& error) {
  return "request " + id + ": the row cannot be read while its worker runs: " + error + "; checked again in 10 s";
}

inline std::string RowUnreadableAfterRun(const std::string& id, const std::string& error) {
  return "request " + id + ": the row cannot be read after its run: " + error;
}

inline std::string WorkerGone(const std::string& id, long long seconds) {
  return "request " + id + ": worker ended, gone " + std::to_string(seconds) + " s after the start (checked every 10 s)";
}

inline std::string WorkerEnded(const std::string& id, const std::string& outcome, long long seconds) {
  return "request " + id + ": worker ended: " + outcome + " after " + std::to_string(seconds) + " s";
}

inline std::string WorkerEndedUnwatched(const std::string& id, std::uint32_t agentPid) {
  return "request " + id + ": its worker, left by an agent that ended (pid " + std::to_string(agentPid) + "), " +
         state::kRunEndedUnwatched;
}

// Appended to WorkerEnded after an abnormal end: at most its last 5 lines, passwords masked.
inline std::string LastOutput(const std::string& tail, const std::string& file) {
  return "; its last output: " + (tail.empty() ? std::string("(none)") : tail) + " (" + file + ")";
}

// Appended to WorkerEnded: what became of the row (it may have been removed).
inline std::string RowNow(const std::string& status) {
  return status.empty() ? std::string("; the row is gone") : "; the row is now " + status;
}
inline std::string RowStillPending() { return std::string("; the row is still ") + state::kStatusPending; }
inline std::string StartedAgainIn(long long seconds) {
  return RowStillPending() + ": started again in " + std::to_string(seconds) + " s at the earliest, other requests meanwhile";
}

inline std::string CancelledByOperator(long long id) {
  return "request " + std::to_string(id) + ": cancelled by the operator, worker stopped, row marked " +
         state::kStatusNotOk;
}

inline std::string MarkedNotOk(const std::string& id, const std::string& reason) {
  return "request " + id + " is marked " + state::kStatusNotOk + ": " + reason;
}

inline std::string LeftPendingMeanwhile(const std::string& id, const std::string& reason) {
  return "request " + id + " left " + state::kStatusPending + " meanwhile and is not marked " + state::kStatusNotOk +
         " (" + reason + ")";
}

// `starter`: the user whose agent started an adopted worker; empty: this agent's own.
inline std::string StopIncomplete(const std::string& id, const std::string& starter, const std::string& failures) {
  return "request " + id + ": the cancel cannot stop every process of its worker" +
         (starter.empty() ? std::string() : ", started by an agent of user " + starter) + " (" + failures +
         "); the worker runs on and the row stays " + state::kStatusCancelRequested +
         " until it ends; it is stopped again at every pass";
}

inline std::string DayIndexesMissing(const std::string& error) {
  return "the control table's indexes of the day cannot be made (" + error +
         "); the requests are dispatched as before, the status page counts them more slowly";
}

inline std::string CancelledAfterWorkerEnded(long long id) {
  return "request " + std::to_string(id) + ": cancelled by the operator, its worker ended without being stopped, row marked " +
         state::kStatusNotOk;
}

// ---- one dispatcher per installation
inline constexpr std::string_view kDispatching = "this agent dispatches the installation's requests from now on";
inline constexpr std::string_view kStandingBy =
    "another agent of this installation dispatches its requests; this one stands by and takes over when that one ends";
inline std::string CannotDispatch(const std::string& error) { return error + "; this agent stands by"; }

// ---- what supervision finds beside the worker
inline std::string StrayIgnored(std::uint32_t pid, const std::string& commandLine) {
  return "pid " + std::to_string(pid) + " (" + commandLine +
         ") is marked as a worker of this installation but belongs to none of its runs: ignored";
}

inline std::string LeftOver(const std::string& id, std::uint32_t pid, const std::string& commandLine) {
  return "request " + id + ": pid " + std::to_string(pid) + " (" + commandLine +
         "), left running by its worker, no longer holds the queue";
}

inline std::string NoOutputFile(const std::string& id, const std::string& error) {
  return "request " + id + ": " + error + "; its worker runs without an output file";
}

inline std::string WatchWarning(const std::string& id, const std::string& warning) {
  return "request " + id + ": " + warning;
}

// The note of a run that the operator cancelled (state store).
inline constexpr std::string_view kRunCancelled = "cancelled by the operator";

}  // namespace qar::agent::texts
