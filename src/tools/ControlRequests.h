// Requests on the control table CTRLEXECREM as requesting programs and operators make them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qar {
class TADOConnection;
}

namespace qar::tools {

// The operation text of a synchronisation request, {"CDFILIAL":"X","CDCAIXA":"Y"}.
// Raises TUsageError for a value that is empty or that would break the text or the
// worker's parameter string "SYNC_<id>_<branch>_<till>_": a double quote, a
// backslash, a control character, a blank or an underscore.
std::string SyncOperationText(const std::string& filial, const std::string& caixa);

// Creates CTRLEXECREM with the agent's own statement when the agent's pending-rows
// query cannot read it, then inserts a pending "SYNC" request (CDAPP "QarCfg",
// status "P") and returns its id. Failures raise TCommandError.
std::int64_t EnqueueSyncRequest(TADOConnection& connection, const std::string& filial,
                                const std::string& caixa);

// Sets the status of request `id` to "C" (cancellation requested) and returns the
// status it had. A request that does not exist raises TCommandError.
std::string CancelRequest(TADOConnection& connection, std::int64_t id);

struct TRequestRow {
  std::string id;
  std::string status;
  std::string operation;
  std::string inserted;  // yyyy-mm-dd hh:mm:ss
  std::string error;
};

// The requests inserted on the database server's current day, by id.
std::vector<TRequestRow> TodaysRequests(TADOConnection& connection);

// The rows as aligned columns under a heading; control characters show as blanks.
std::vector<std::string> FormatRequestRows(const std::vector<TRequestRow>& rows);

}  // namespace qar::tools
