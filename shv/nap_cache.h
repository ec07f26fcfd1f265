// The process-wide verdict cache: (client_id, digest, central server) ->
// compliant. A verdict lives for the longest cache time it was wanted for,
// and a look-up takes it only while it is no older than the asker's cache
// time: configurations with different cache times share a cache without
// cutting each other's verdicts short or keeping them too long. Expiry is
// lazy, inside get and set, soonest-expiring entries first; the number of
// entries and the bytes they hold are both bounded, because the clients, not
// yet admitted, choose the keys.
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

// What a verdict is cached by: the client's two words, and the central
// server that gave it, so that configurations naming different servers never
// share a verdict. Compared field by field, in order (the defaulted
// comparison; strings byte-wise as unsigned bytes, a proper prefix first).
struct nap_cache_key_t {
  std::string client_id;
  std::string digest;
  std::string server;  // see nap_cache_t::server_of
  auto operator<=>(const nap_cache_key_t&) const = default;
};

class nap_cache_t {
 public:
  typedef nap_cache_key_t key_t;
  // The clock the cache stamps entries with (10-ns ticks); replaceable for tests.
  typedef timegap_t (*clock_fn)();
  // At most this many verdicts are kept, holding at most max_bytes between
  // them (keys and bookkeeping, see charge_of); when either bound is reached,
  // the one closest to its expiry goes first (with one cache time for all:
  // the oldest). With short client ids the count is the bound that applies; a
  // client id of a few kilobytes simply takes more of the bytes.
  static constexpr size_t max_entries = 100000;
  static constexpr size_t max_bytes = 32 * 1024 * 1024;

  explicit nap_cache_t(size_t capacity = max_entries, size_t byte_budget = max_bytes);
  static nap_cache_t& instance();

  // The server field of a key: the server's name and port as the settings
  // hold them (not as resolved), in a form no other pair gives.
  static std::string server_of(std::string_view name, uint32_t port);

  // Writes the cached verdict and returns true, or returns false and leaves
  // *compliant untouched. Expired entries go first. An entry older than
  // max_age seconds is a miss for this asker only: it stays for the askers
  // that still want it, until its own expiry. On a hit, *age_seconds (when
  // given) is how old the verdict is.
  bool get(const key_t& key, bool* compliant, uint32_t max_age, uint32_t* age_seconds = nullptr);
  // Stores the verdict stamped now, replacing and restamping an existing one;
  // it lives lifetime seconds, or the longer lifetime the key was already
  // kept for, since an asker with that cache time still wants it. A new key
  // makes room when either bound is reached.
  void set(const key_t& key, bool compliant, uint32_t lifetime);
  // The same for a key without a server, with the time-out below.
  bool get(std::string_view client_id, std::string_view digest, bool* compliant) {
    return get(key_t{std::string(client_id), std::string(digest), {}}, compliant, timeout());
  }
  void set(std::string_view client_id, std::string_view digest, bool compliant) {
    set(key_t{std::string(client_id), std::string(digest), {}}, compliant, timeout());
  }
  // The time-out of the calls that give none, in seconds (the most recent
  // request's); lock-free, the last writer wins.
  void set_timeout(uint32_t seconds) { impl_->timeout.store(seconds, std::memory_order_relaxed); }
  uint32_t timeout() const { return impl_->timeout.load(std::memory_order_relaxed); }

  size_t size() const;
  size_t capacity() const { return impl_->capacity; }
  // The bytes the entries are charged with, and their bound.
  size_t bytes() const;
  size_t byte_budget() const { return impl_->byte_budget; }
  // What one entry with this key is charged: its key's text where it lives
  // outside the strings themselves, the map's and the expiry index's nodes
  // and the allocator's headers of each; an estimate of what it costs the
  // process, close enough for a bound.
  static size_t charge_of(const key_t& key);
  void set_clock(clock_fn clock) { impl_->clock = clock; }

 private:
  struct entry_t {
    bool compliant = false;
    timegap_t stored_at = 0;
    timegap_t expires_at = 0;  // stored_at + lifetime
    timegap_t lifetime = 0;
    size_t charge = 0;  // charge_of its key
  };
  // An ordered map: clients choose the keys, and no choice of keys makes a
  // look-up slower than its logarithm. Nodes never move, so the expiry index
  // can point at their keys.
  typedef std::map<key_t, entry_t> map_t;
  // Entries in the order of their expiry, so that expiry and eviction look
  // only at the first ones instead of walking the whole map.
  typedef std::set<std::pair<timegap_t, const key_t*>> expiry_index_t;

  struct impl_t {
    critical_section_t lock;
    std::atomic<uint32_t> timeout{300};
    map_t entries;
    expiry_index_t by_expiry;
    clock_fn clock;
    size_t capacity;
    size_t byte_budget;
    size_t bytes = 0;  // the sum of the entries' charges
  };

  // Removes every entry whose lifetime ended strictly before now; caller
  // holds the lock.
  void cleanup(timegap_t now);
  // Removes one entry, or the one closest to its expiry; caller holds the lock.
  void erase(map_t::iterator it);
  void evict_first();
  // Evicts until an entry charged charge fits beside the others; caller
  // holds the lock.
  void make_room(size_t charge);

  std::shared_ptr<impl_t> impl_;
};
