// The process-wide verdict cache: (client_id, digest) -> compliant, each entry
// served for at most the configured number of seconds after it was stored.
// Expiry is lazy, inside get and set, oldest entries first; the number of
// entries is bounded.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "kern/syncers.h"
#include "kern/types.h"

// What a verdict is cached by. Compared field by field, in order (the
// defaulted comparison; strings byte-wise as unsigned bytes, a proper prefix
// first), so a further field is one more line here.
struct nap_cache_key_t {
  std::string client_id;
  std::string digest;
  auto operator<=>(const nap_cache_key_t&) const = default;
};

class nap_cache_t {
 public:
  typedef nap_cache_key_t key_t;
  // The clock the cache stamps entries with (10-ns ticks); replaceable for tests.
  typedef timegap_t (*clock_fn)();
  // At most this many verdicts are kept; when full, the oldest goes first.
  static constexpr size_t max_entries = 100000;

  explicit nap_cache_t(size_t capacity = max_entries);
  static nap_cache_t& instance();

  // Writes the cached verdict and returns true, or returns false and leaves
  // *compliant untouched. Expired entries go first.
  bool get(const key_t& key, bool* compliant);
  // Stores the verdict stamped now (replacing and restamping an existing
  // one); a new key makes room by dropping the oldest entry when full.
  void set(const key_t& key, bool compliant);
  bool get(std::string_view client_id, std::string_view digest, bool* compliant) {
    return get(key_t{std::string(client_id), std::string(digest)}, compliant);
  }
  void set(std::string_view client_id, std::string_view digest, bool compliant) {
    set(key_t{std::string(client_id), std::string(digest)}, compliant);
  }
  // Verdict lifetime in seconds; lock-free, the last writer wins.
  void set_timeout(uint32_t seconds) { impl_->timeout.store(seconds, std::memory_order_relaxed); }
  uint32_t timeout() const { return impl_->timeout.load(std::memory_order_relaxed); }

  size_t size() const;
  size_t capacity() const { return impl_->capacity; }
  void set_clock(clock_fn clock) { impl_->clock = clock; }

 private:
  struct entry_t {
    bool compliant = false;
    timegap_t stored_at = 0;
  };
  // An ordered map: clients choose the keys, and no choice of keys makes a
  // look-up slower than its logarithm. Nodes never move, so the age index
  // can point at their keys.
  typedef std::map<key_t, entry_t> map_t;
  // Entries in the order of their time stamps, so that expiry and eviction
  // look only at the oldest ones instead of walking the whole map.
  typedef std::set<std::pair<timegap_t, const key_t*>> age_index_t;

  struct impl_t {
    critical_section_t lock;
    std::atomic<uint32_t> timeout{300};
    map_t entries;
    age_index_t by_age;
    clock_fn clock;
    size_t capacity;
  };

  // Removes every entry stored strictly before now - timeout; caller holds the lock.
  void cleanup(timegap_t now);
  // Removes the oldest entry; caller holds the lock.
  void evict_oldest();

  std::shared_ptr<impl_t> impl_;
};
