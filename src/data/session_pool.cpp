#include "data/session_pool.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "data/connection_string.h"
#include "platform/no_destructor.h"
#include "platform/text.h"

namespace qar {

namespace {

// OLE DB's DBPROPVAL_OS_RESOURCEPOOLING: "OLE DB Services=-2" is every service but pooling.
constexpr long kResourcePoolingBit = 1;

bool IsFalse(const std::string& value) {
  return platform::SameTextAscii(value, "false") || platform::SameTextAscii(value, "no") || value == "0";
}

}  // namespace

bool ConnectionStringAllowsPooling(const std::string& connectionString) {
  const std::string services = ConnectionStringValue(connectionString, "OLE DB Services");
  if (!services.empty()) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(services.c_str(), &end, 10);
    if (errno == 0 && end != services.c_str() && *end == '\0' && (value & kResourcePoolingBit) == 0) return false;
  }
  return !IsFalse(ConnectionStringValue(connectionString, "Pooling"));
}

TSessionPool::TSessionPool(platform::Clock& clock, TSettingsSource settings)
    : clock_(clock), source_(std::move(settings)) {}

TSessionPool::~TSessionPool() { Clear(); }

void TSessionPool::SetSettingsSource(TSettingsSource settings) {
  std::unordered_map<std::string, TBucket> closing;  // kept under the old settings
  std::lock_guard lock(mutex_);
  source_ = std::move(settings);
  settings_.reset();
  closing.swap(buckets_);
}

const TSessionPoolSettings& TSessionPool::Settings() {
  if (!settings_) settings_ = source_ ? source_() : TSessionPoolSettings{};
  return *settings_;
}

void TSessionPool::Expire(std::chrono::milliseconds now, std::vector<TIdle>& closing) {
  const std::chrono::milliseconds limit = now - std::chrono::duration_cast<std::chrono::milliseconds>(Settings().idleTime);
  if (oldestIdle_ > limit) return;
  oldestIdle_ = std::chrono::milliseconds::max();
  for (auto bucket = buckets_.begin(); bucket != buckets_.end();) {
    std::deque<TIdle>& idle = bucket->second.idle;
    bool expired = false;
    while (!idle.empty() && idle.front().since <= limit) {
      closing.push_back(std::move(idle.front()));
      idle.pop_front();
      expired = true;
    }
    if (!idle.empty()) oldestIdle_ = std::min(oldestIdle_, idle.front().since);
    // A bucket emptied by a taker stays, with its verdict on pooling, for the session's
    // return: parsing the connection string again on every close would cost as much as
    // the rest of the pool's work. One left unused for the idle time goes.
    if (expired && idle.empty()) bucket = buckets_.erase(bucket);
    else ++bucket;
  }
}

std::optional<TPooledSession> TSessionPool::Take(const std::string& connectionString) {
  std::vector<TIdle> closing;  // closed outside the lock, after it is released
  for (;;) {
    std::optional<TPooledSession> taken;
    {
      std::lock_guard lock(mutex_);
      if (!Settings().enabled) return std::nullopt;
      Expire(clock_.Elapsed(), closing);
      const auto bucket = buckets_.find(connectionString);
      if (bucket == buckets_.end() || bucket->second.idle.empty()) return std::nullopt;
      // Expire's shortcut relies on it: no idle session went back before oldestIdle_.
      assert(bucket->second.idle.front().since >= oldestIdle_ && "an idle session older than the pool knows");
      taken = std::move(bucket->second.idle.back().pooled);
      bucket->second.idle.pop_back();
    }
    // Checked outside the lock: the check may reach the server.
    if (taken->session->Alive()) return taken;
    // A dead session is closed; the next one is tried.
  }
}

void TSessionPool::Return(const std::string& connectionString, TPooledSession pooled) {
  if (!pooled.session) return;
  std::vector<TIdle> closing;
  std::lock_guard lock(mutex_);
  const TSessionPoolSettings& settings = Settings();
  if (!settings.enabled || settings.maxIdlePerKey == 0) return;  // `pooled` is closed on leaving
  const std::chrono::milliseconds now = clock_.Elapsed();
  Expire(now, closing);
  auto bucket = buckets_.find(connectionString);
  if (bucket == buckets_.end()) {
    bucket = buckets_.emplace(connectionString, TBucket{ConnectionStringAllowsPooling(connectionString), {}}).first;
  }
  if (!bucket->second.poolable) return;
  std::deque<TIdle>& idle = bucket->second.idle;
  while (idle.size() >= settings.maxIdlePerKey) {
    closing.push_back(std::move(idle.front()));
    idle.pop_front();
  }
  idle.push_back({std::move(pooled), now});
  oldestIdle_ = std::min(oldestIdle_, now);
  assert(idle.size() <= settings.maxIdlePerKey && "more idle sessions kept than allowed");
  // `closing` is declared before the lock: its sessions close after it is released.
}

void TSessionPool::Clear() {
  std::unordered_map<std::string, TBucket> closing;
  std::lock_guard lock(mutex_);
  closing.swap(buckets_);
}

std::size_t TSessionPool::IdleCount() {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& [key, bucket] : buckets_) count += bucket.idle.size();
  return count;
}

std::shared_ptr<TSessionPool> ProcessSessionPoolReference() {
  // Never destroyed: connections in other process-wide objects may close after it
  // would have gone. Its sessions are closed at process end by EmptyAtProcessEnd.
  static platform::NoDestructor<std::shared_ptr<TSessionPool>> pool;
  static const bool started = [] {
    *pool = std::make_shared<TSessionPool>(platform::SystemClock());
    EmptyAtProcessEnd(**pool);
    return true;
  }();
  (void)started;
  return *pool;
}

TSessionPool& ProcessSessionPool() { return *ProcessSessionPoolReference(); }

}  // namespace qar
