// Requests on the control table CTRLEXECREM as requesting programs and operators make them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/datetime.h"

namespace qar {
class TADOConnection;
class TADOQuery;
}

namespace qar::state {

// The longest branch or till code a request takes: codes are short, and a longer one
// would only widen every line of `list` and the worker's parameter string.
inline constexpr std::size_t kMaxCodeLength = 20;

// The operation text of a synchronisation request, {"CDFILIAL":"X","CDCAIXA":"Y"}.
// Raises EUsageError for a value that is empty, longer than kMaxCodeLength, or that
// would break the text or the worker's parameter string "SYNC_<id>_<branch>_<till>_":
// a double quote, a backslash, a control character, a blank or an underscore.
std::string SyncOperationText(const std::string& filial, const std::string& caixa);

// Creates CTRLEXECREM with the agent's own statement when the agent's pending-rows
// query cannot read it, then inserts a pending "SYNC" request (CDAPP "QarCfg",
// status "P") and returns its id. Failures raise ECommandError.
std::int64_t EnqueueSyncRequest(TADOConnection& connection, const std::string& filial,
                                const std::string& caixa);

// Sets the status of request `id` to "C" (cancellation requested). Only a request
// the agent can still start or stop is cancelled: status exactly "P", inserted on the
// database server's current day. Anything else raises ECommandError naming the
// status the request has (or that it does not exist, or that it expired). With
// `evenExpired`, a pending row of an earlier day (never started) is cancelled too:
// the status page clears such rows out of the operators' way.
void CancelRequest(TADOConnection& connection, std::int64_t id, bool evenExpired = false);

struct TRequestRow {
  std::string id;
  std::string status;
  std::string operation;
  std::string inserted;  // yyyy-mm-dd hh:mm:ss
  std::string error;
  bool expired = false;  // still "P" from an earlier day: the agent never starts it
};

// The SELECT list a TRequestRow is read from (its last column HOJE, see
// kInsertedTodayColumn), and the row a query built on it is positioned on.
std::string RequestRowColumns();
// The same with HOJE computed by `insertedToday` (see InsertedTodayCondition).
std::string RequestRowColumns(const std::string& insertedToday);
TRequestRow ReadRequestRow(TADOQuery& query);

// The indexes made with the table: kCreateStatusIndex, and on SQLite
// kCreateSqliteDayIndexes. Failures raise EDataError.
void CreateControlTableIndexes(TADOConnection& connection);
// On SQLite, kCreateSqliteDayIndexes where they are missing; elsewhere nothing.
void AddSqliteDayIndexes(TADOConnection& connection);

// kInsertedToday as the readers write it: the database server's current day, asked
// once, as a range of DTINCLUSAO, which the database compares without converting
// every row, e.g. "(DTINCLUSAO >= '20261207' AND DTINCLUSAO < '20261208')". The
// agent's own statements keep kInsertedToday. Failures raise EDataError.
struct TInsertedToday {
  // For a query that reads rows. On SQLite the column is compared as it is stored (the
  // dialect's dates are texts, and so are the bounds): no value is converted on the way,
  // and no index of the day is taken where the rows are wanted in the order of their ids.
  std::string rows;
  // For counting one status's rows: a range of IXCTRLEXECREM_STATUS_DIA on SQLite.
  std::string counted;
};
TInsertedToday InsertedToday(TADOConnection& connection);
// InsertedToday(connection).rows.
std::string InsertedTodayCondition(TADOConnection& connection);

// The requests inserted on the database server's current day and the expired
// pending ones of earlier days, by id; with `since`, those inserted from then on.
std::vector<TRequestRow> ListedRequests(TADOConnection& connection, std::optional<platform::TDateTime> since = {});

}  // namespace qar::state
