// TSessionPool: closed connections' driver sessions, kept per connection string for the next open.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/driver_session.h"
#include "platform/clock.h"

namespace qar {

// What the pool may keep. Defaults as documented for the settings ConnectionPooling,
// PoolMaxIdleSessions and PoolIdleTimeout.
struct TSessionPoolSettings {
  bool enabled = true;
  std::size_t maxIdlePerKey = 8;
  std::chrono::seconds idleTime{60};
};

// A driver session between a close and the next open, with what belongs to it: its
// number (@@SPID of the SQLite dialect, compiled into the statements it keeps) and
// whether it speaks that dialect.
struct TPooledSession {
  std::unique_ptr<TDriverSession> session;
  std::int64_t sessionId = 0;
  bool sqliteDialect = false;
};

// Sessions are kept under the exact connection string they were opened with
// (credentials included) and handed to one taker each, the most recently returned
// first. A session is kept only when it comes back clean (TDriverSession::
// ResetForPool) and handed out only when it still works (TDriverSession::Alive); any
// other is closed. A connection string with "OLE DB Services" lacking the pooling bit
// (-2, -4, 0) or "Pooling=False" is never pooled. Idle sessions older than the idle
// time are closed at the pool's next use; at most maxIdlePerKey wait per string (the
// oldest goes first). Thread-safe.
//
//   if (std::optional<TPooledSession> kept = pool.Take(text)) Use(*kept);
//   ...
//   pool.Return(text, std::move(session));
class TSessionPool {
 public:
  using TSettingsSource = std::function<TSessionPoolSettings()>;

  // `settings` is asked once, at the first Take or Return.
  explicit TSessionPool(platform::Clock& clock, TSettingsSource settings = {});
  ~TSessionPool();
  TSessionPool(const TSessionPool&) = delete;
  TSessionPool& operator=(const TSessionPool&) = delete;

  std::optional<TPooledSession> Take(const std::string& connectionString);
  // Keeps the session, or closes it when it may not be kept.
  void Return(const std::string& connectionString, TPooledSession pooled);
  // Closes the idle sessions and asks `settings` again at the next Take or Return.
  void SetSettingsSource(TSettingsSource settings);
  // Closes every idle session.
  void Clear();
  std::size_t IdleCount();

 private:
  struct TIdle {
    TPooledSession pooled;
    std::chrono::milliseconds since{0};  // the clock's Elapsed reading at the return
  };
  struct TBucket {
    bool poolable = true;
    std::deque<TIdle> idle;  // oldest first
  };

  const TSessionPoolSettings& Settings();  // under mutex_
  // Moves the sessions idle for longer than the idle time into `closing`.
  void Expire(std::chrono::milliseconds now, std::vector<TIdle>& closing);

  platform::Clock& clock_;
  TSettingsSource source_;
  std::mutex mutex_;
  std::optional<TSessionPoolSettings> settings_;
  std::unordered_map<std::string, TBucket> buckets_;
  // No idle session went back before this: until the idle time has passed since, none
  // can have expired, and the buckets are not walked.
  std::chrono::milliseconds oldestIdle_ = std::chrono::milliseconds::max();
};

// False when the connection string turns pooling off for itself.
bool ConnectionStringAllowsPooling(const std::string& connectionString);

// The process's pool, on the system clock; empty at first and emptied when the
// process ends. Its settings come from the source installed here (defaults until then).
TSessionPool& ProcessSessionPool();
std::shared_ptr<TSessionPool> ProcessSessionPoolReference();

// Platform part: has `pool` emptied when the process ends, where that is safe.
void EmptyAtProcessEnd(TSessionPool& pool);

}  // namespace qar
