#include "data/connection_object.h"

#include <atomic>

#include "data/data_error.h"
#include "data/sqlite_dialect.h"
#include "platform/process.h"
#include "platform/text.h"

namespace qar {

namespace {

constexpr std::int64_t kSessionsPerProcess = 1000000;

std::atomic<std::int64_t> gSessionCount{0};

std::int64_t NextSessionId() {
  const std::int64_t count = gSessionCount.fetch_add(1) % (kSessionsPerProcess - 1) + 1;
  return static_cast<std::int64_t>(platform::CurrentProcessId()) * kSessionsPerProcess + count;
}

}  // namespace

TConnectionObject::~TConnectionObject() {
  try {
    Close();
  } catch (...) {
    // A failing rollback while the session goes away has nobody left to tell.
  }
}

void TConnectionObject::SetConnectionString(std::string connectionString) {
  if (Connected()) throw EDataError("Operation is not allowed when the object is open.");
  connectionString_ = std::move(connectionString);
}

void TConnectionObject::Open() {
  if (Connected()) return;
  // Say so plainly rather than pass the driver manager's guess at a data source.
  if (!factory_ && connectionString_.find_first_not_of(" \t\r\n") == std::string::npos) {
    throw EDataError("The connection string is empty.", "08001");
  }
  if (pool_) {
    if (std::optional<TPooledSession> kept = pool_->Take(connectionString_)) {
      session_ = std::move(kept->session);
      sessionId_ = kept->sessionId;
      sqliteDialect_ = kept->sqliteDialect;
      transactionLevel_ = 0;
      return;
    }
  }
  std::unique_ptr<TDriverSession> session =
      factory_ ? factory_(connectionString_) : OpenDriverSession(connectionString_);
  if (!session) throw EDataError("No driver session for the connection string");
  sqliteDialect_ = platform::SameTextAscii(session->DbmsName(), "SQLite");
  sessionId_ = NextSessionId();
  if (sqliteDialect_) {
    session->SetDialect([sessionId = sessionId_](const std::string& statement) {
      return TranslateTSqlToSqlite(statement, sessionId);
    });
  }
  session_ = std::move(session);
  transactionLevel_ = 0;
}

void TConnectionObject::Close() {
  if (!session_) return;
  std::unique_ptr<TDriverSession> session = std::move(session_);
  const std::int64_t sessionId = sessionId_;
  sessionId_ = 0;
  if (transactionLevel_ > 0) {
    transactionLevel_ = 0;
    session->Rollback();  // a failure closes the session and reaches the caller
  }
  // The number goes with the session: its kept statements carry it.
  if (pool_ && session->ResetForPool()) pool_->Return(connectionString_, {std::move(session), sessionId, sqliteDialect_});
}

TDriverSession& TConnectionObject::Session() {
  if (!session_) throw EDataError("Operation is not allowed when the object is closed.", "08003");
  return *session_;
}

std::string TConnectionObject::DbmsName() { return Session().DbmsName(); }

TStatementCacheStats TConnectionObject::StatementCache() const {
  return session_ ? session_->StatementCache() : TStatementCacheStats{};
}

TDriverResult TConnectionObject::Execute(const std::string& statement,
                                         std::vector<TDriverParameter>& parameters,
                                         std::optional<std::size_t> maxRows) {
  return Session().Execute(statement, parameters, maxRows);
}

TDriverResult TConnectionObject::ExecuteProcedure(const std::string& name,
                                                  std::vector<TDriverParameter>& parameters) {
  return Session().ExecuteProcedure(name, parameters);
}

int TConnectionObject::BeginTrans() {
  TDriverSession& session = Session();
  if (transactionLevel_ == 0) session.BeginTransaction();
  return ++transactionLevel_;
}

void TConnectionObject::CommitTrans() {
  TDriverSession& session = Session();
  if (transactionLevel_ == 0) throw EDataError("No transaction is active.", "25000");
  if (transactionLevel_ == 1) session.Commit();
  --transactionLevel_;
}

void TConnectionObject::RollbackTrans() {
  TDriverSession& session = Session();
  if (transactionLevel_ == 0) throw EDataError("No transaction is active.", "25000");
  transactionLevel_ = 0;
  session.Rollback();
}

}  // namespace qar
