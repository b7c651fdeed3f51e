#include "data/driver_session.h"

#include "data/connection_string.h"
#include "data/odbc_session.h"

namespace qar {

std::unique_ptr<TDriverSession> OpenDriverSession(const std::string& connectionString) {
  const TDriverChoice choice =
      ChooseDriver(connectionString, DefaultSqlServerOdbcDriver(), DefaultOracleOdbcDriver());
  if (choice.kind == TDriverChoice::kEmbeddedSqlite)
    return OpenEmbeddedSqlite(choice.target, choice.journalDelete ? TJournalMode::kDelete : TJournalMode::kWal,
                              choice.busyTimeoutMs);
  return OpenOdbcSession(choice.target);
}

}  // namespace qar
