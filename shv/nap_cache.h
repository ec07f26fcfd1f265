// The process-wide verdict cache: (client_id, digest, central server) ->
// compliant. A verdict lives for the cache time it was stored with, and a
// look-up takes it only while it is no older than the asker's cache time:
// configurations with different cache times share a cache without cutting
// each other's verdicts short or keeping them too long. Expiry is lazy,
// inside get and set, soonest-expiring entries first.
#pragma once

#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "kern/syncers.h"
#include "kern/types.h"

// What a verdict is cached by: the client's two words, and the central
// server that gave it, so that configurations naming different servers
// never share a verdict. Every field is compared byte for byte.
struct nap_cache_key_t {
  std::string client_id;
  std::string digest;
  std::string server;  // see nap_cache_t::server_of
  bool operator==(const nap_cache_key_t&) const = default;
};

class nap_cache_t {
 public:
  typedef nap_cache_key_t key_t;
  // The clock the cache stamps entries with (10-ns ticks); replaceable for tests.
  typedef timegap_t (*clock_fn)();

  nap_cache_t();
  static nap_cache_t& instance();

  // The server field of a key: the server's name and port as the settings
  // hold them (not as resolved), in a form no other pair gives.
  static std::string server_of(std::string_view name, uint32_t port);

  // Writes the cached verdict and returns true, or returns false and leaves
  // *compliant untouched. Expired entries go first; an entry older than
  // max_age seconds goes too (it is no verdict for this asker, and the
  // answer it gets next replaces it).
  bool get(const key_t& key, bool* compliant, uint32_t max_age);
  // Stores the verdict stamped now to live lifetime seconds (replacing and
  // restamping an existing one).
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
  void set_clock(clock_fn clock) { impl_->clock = clock; }

 private:
  // Every field compared byte for byte; no normalisation.
  struct key_hash_t {
    size_t operator()(const key_t& k) const {
      size_t h = 0;
      for (const std::string* field : {&k.client_id, &k.digest, &k.server}) {
        h ^= std::hash<std::string_view>()(*field) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
      }
      return h;
    }
  };
  struct entry_t {
    bool compliant = false;
    timegap_t stored_at = 0;
    timegap_t expires_at = 0;  // stored_at + its lifetime
  };
  // A hash map: a hit costs the same with ten entries or a hundred thousand.
  // Nodes never move, so the expiry index can point at their keys.
  typedef std::unordered_map<key_t, entry_t, key_hash_t> map_t;
  // Entries in the order of their expiry, so that expiry looks only at the
  // first ones instead of walking the whole map on every call.
  typedef std::set<std::pair<timegap_t, const key_t*>> expiry_index_t;

  struct impl_t {
    critical_section_t lock;
    std::atomic<uint32_t> timeout{300};
    map_t entries;
    expiry_index_t by_expiry;
    clock_fn clock;
  };

  // Removes every entry whose lifetime ended strictly before now; caller
  // holds the lock.
  void cleanup(timegap_t now);
  // Removes one entry; caller holds the lock.
  void erase(map_t::iterator it);

  std::shared_ptr<impl_t> impl_;
};
