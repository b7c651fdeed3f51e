// TStatementCache: a session's prepared statements by statement text, the least recently used dropped first.
#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qar {

// How many prepared statements one session keeps.
inline constexpr std::size_t kStatementCacheCapacity = 64;

// Holds at most `capacity` values (a driver's prepared statement and what goes with
// it), each under the text it was prepared for. Find marks a value as just used;
// Insert drops the least recently used one when the cache is full. A value is
// destroyed (its statement freed) when it is dropped, erased, or the cache goes.
//
//   if (TPrepared* prepared = cache.Find(text)) Run(*prepared);
//   else Run(cache.Insert(text, Prepare(text)));
template <class T>
class TStatementCache {
 public:
  explicit TStatementCache(std::size_t capacity = kStatementCacheCapacity) : capacity_(capacity) {}
  TStatementCache(const TStatementCache&) = delete;
  TStatementCache& operator=(const TStatementCache&) = delete;

  std::size_t Size() const { return index_.size(); }

  T* Find(std::string_view text) {
    // A text run again and again is found without hashing it.
    if (!entries_.empty() && entries_.front().first == text) return &entries_.front().second;
    const auto found = index_.find(text);
    if (found == index_.end()) return nullptr;
    entries_.splice(entries_.begin(), entries_, found->second);
    return &found->second->second;
  }

  // `text` must not be cached yet.
  T& Insert(std::string text, T value) {
    while (!entries_.empty() && index_.size() >= capacity_) Erase(entries_.back().first);
    entries_.emplace_front(std::move(text), std::move(value));
    index_.emplace(entries_.front().first, entries_.begin());
    return entries_.front().second;
  }

  void Erase(std::string_view text) {
    const auto found = index_.find(text);
    if (found == index_.end()) return;
    const auto entry = found->second;
    index_.erase(found);  // before the text its key views goes
    entries_.erase(entry);
  }

  void Clear() {
    index_.clear();
    entries_.clear();
  }

 private:
  using Entries = std::list<std::pair<std::string, T>>;

  std::size_t capacity_;
  Entries entries_;  // most recently used first; list nodes keep the keys' texts in place
  std::unordered_map<std::string_view, typename Entries::iterator> index_;
};

}  // namespace qar
