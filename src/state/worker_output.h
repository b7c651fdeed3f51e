// Worker output: the installation's directory of the runs' output files, and the rule that names each file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/datetime.h"
#include "platform/new_file.h"

namespace qar::state {

// The directory: "output" beside the state store (the directory of StateStorePath()).
// POSIX: made with kWorkerOutputDirectoryMode and the group of the store's directory:
// the installation's group reads the runs' output (status page, QarCfg), nobody
// outside it does, and only the directory's owner writes there.
std::string WorkerOutputDirectory();
inline constexpr unsigned kWorkerOutputDirectoryMode = 02750;

// The name of a run's file: "QarTab_<request>_<start as yyyymmddhhnnss, UTC>_<8
// lower-case hex digits>.log". The random part makes it a name nobody can plant
// ahead of the run.
std::string WorkerOutputName(std::int64_t request, platform::TUtcDateTime started, const std::string& randomHex);

// Whether `name` (a file name without directory) is one WorkerOutputName gives for
// `request`: what a reader (the status page) checks before it opens a stored name.
bool IsWorkerOutputName(const std::string& name, std::int64_t request);

// Whether the stored path `path` names a file of `directory` (WorkerOutputDirectory())
// by the rule, for `request`: a run's output file as its agent recorded it.
bool IsWorkerOutputPath(const std::string& path, const std::string& directory, std::int64_t request);

// A new output file for a run of `request` started at `started`: the directory made
// when missing, the file created new (platform::TNewFile) under a name with a fresh
// random part, another one when a name is taken. `error` says what failed, naming the
// directory or the file; the file is not Ok() then.
struct TWorkerOutput {
  platform::TNewFile file;
  std::string error;
};
TWorkerOutput CreateWorkerOutput(const std::string& directory, std::int64_t request, platform::TUtcDateTime started,
                                 const std::function<std::string()>& randomHex);

// What MaxWorkerOutput (megabytes per run) is when it is not set.
inline constexpr std::uint32_t kDefaultMaxWorkerOutputMb = 10;

}  // namespace qar::state
