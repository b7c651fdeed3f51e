// TConnectionObject: one database session with its connection string and transaction state, shareable between connections.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/driver_session.h"
#include "data/session_pool.h"

namespace qar {

// The "connection object" a TADOConnection works through. Held by shared_ptr: a
// connection may be given another connection's object for a while (both then use
// the same session) and have its own put back afterwards.
//
// The statement texts reaching the session are those the components send, with
// "?" markers. When the server is SQLite (the embedded driver, or SQLite reached
// through ODBC) they pass through the SQLite dialect first; no other server's
// statements are edited. The session keeps what it prepared, translation included,
// for as long as it stays open, whichever connection works through the object.
//
// Close hands the session to a session pool (the process's unless told otherwise)
// and Open takes one kept under the same connection string before it connects anew;
// the object is closed in between all the same. A kept session keeps its number and
// its prepared statements.
class TConnectionObject {
 public:
  using TSessionFactory =
      std::function<std::unique_ptr<TDriverSession>(const std::string& connectionString)>;

  TConnectionObject() = default;
  ~TConnectionObject();
  TConnectionObject(const TConnectionObject&) = delete;
  TConnectionObject& operator=(const TConnectionObject&) = delete;

  const std::string& ConnectionString() const { return connectionString_; }
  // Only while closed (EDataError otherwise).
  void SetConnectionString(std::string connectionString);

  // Replaces the driver selection (tests, recording drivers). Empty: by provider.
  // Sessions of a factory are not pooled unless a pool is set afterwards.
  void SetSessionFactory(TSessionFactory factory) {
    factory_ = std::move(factory);
    pool_.reset();
  }
  // The pool closed sessions go to and opens take from; null: none.
  void SetSessionPool(std::shared_ptr<TSessionPool> pool) { pool_ = std::move(pool); }

  bool Connected() const { return session_ != nullptr; }
  void Open();   // EDataError with the server's text when the connect fails
  void Close();  // an open transaction is rolled back

  // This session's number (@@SPID in the SQLite dialect); 0 while closed. The
  // number is unique among the sessions of every process on this machine that is
  // connected at the same time, so that a session's rows in SQLWEBTUNNING are its
  // own even when several processes share one SQLite file: the process id times
  // 1,000,000 plus the process's own count of sessions opened (1 to 999,999, then
  // from 1 again). Process ids are one machine's: processes of two machines, or of
  // two process-id spaces (a Windows program under Wine beside a native one), may
  // draw the same number.
  std::int64_t SessionId() const { return sessionId_; }
  std::string DbmsName();
  bool SqliteDialect() const { return sqliteDialect_; }
  // The open session's prepared statements (nothing while closed).
  TStatementCacheStats StatementCache() const;

  TDriverResult Execute(const std::string& statement, std::vector<TDriverParameter>& parameters,
                        std::optional<std::size_t> maxRows = std::nullopt);
  TDriverResult ExecuteProcedure(const std::string& name, std::vector<TDriverParameter>& parameters);

  int BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const { return transactionLevel_ > 0; }

 private:
  TDriverSession& Session();

  std::string connectionString_;
  TSessionFactory factory_;
  std::shared_ptr<TSessionPool> pool_ = ProcessSessionPoolReference();
  std::unique_ptr<TDriverSession> session_;
  std::int64_t sessionId_ = 0;
  bool sqliteDialect_ = false;
  int transactionLevel_ = 0;
};

}  // namespace qar
