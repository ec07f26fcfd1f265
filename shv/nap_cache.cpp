// nap_cache_t: the ordered map of verdicts and its index by expiry.
#include "shv/nap_cache.h"

#include <algorithm>

#include "kern/clock.h"

namespace {
timegap_t wall_clock() { return clock_ticks(kern_n::clock_wall); }

// A tree node's links and colour, and the allocator's header of a block.
constexpr size_t node_links = 4 * sizeof(void*);
constexpr size_t block_header = 2 * sizeof(void*);

// The heap block a string's text takes, none while it fits inside the string.
size_t text_charge(const std::string& text) {
  return text.size() < sizeof(std::string) / 2 ? 0 : text.size() + 1 + block_header;
}
}  // namespace

nap_cache_t::nap_cache_t(size_t capacity, size_t byte_budget) : impl_(std::make_shared<impl_t>()) {
  impl_->clock = &wall_clock;
  impl_->capacity = capacity != 0 ? capacity : 1;
  impl_->byte_budget = byte_budget;
}

size_t nap_cache_t::charge_of(const key_t& key) {
  constexpr size_t nodes = sizeof(map_t::value_type) + sizeof(expiry_index_t::value_type) +
                           2 * (node_links + block_header);
  return nodes + text_charge(key.client_id) + text_charge(key.digest) + text_charge(key.server);
}

nap_cache_t& nap_cache_t::instance() {
  static nap_cache_t cache;
  return cache;
}

size_t nap_cache_t::size() const {
  critsect_locker_t guard(impl_->lock);
  return impl_->entries.size();
}

size_t nap_cache_t::bytes() const {
  critsect_locker_t guard(impl_->lock);
  return impl_->bytes;
}

std::string nap_cache_t::server_of(std::string_view name, uint32_t port) {
  // The port's digits end at the first blank; the name is all the rest.
  std::string server = std::to_string(port);
  server += ' ';
  server += name;
  return server;
}

void nap_cache_t::cleanup(timegap_t now) {
  const expiry_index_t& expiries = impl_->by_expiry;
  while (!expiries.empty() && expiries.begin()->first < now) evict_first();
}

void nap_cache_t::erase(map_t::iterator it) {
  impl_->by_expiry.erase({it->second.expires_at, &it->first});
  impl_->bytes -= it->second.charge;
  impl_->entries.erase(it);
}

void nap_cache_t::evict_first() {
  if (!impl_->by_expiry.empty()) erase(impl_->entries.find(*impl_->by_expiry.begin()->second));
}

void nap_cache_t::make_room(size_t charge) {
  while (!impl_->entries.empty() &&
         (impl_->entries.size() >= impl_->capacity || impl_->bytes + charge > impl_->byte_budget)) {
    evict_first();
  }
}

bool nap_cache_t::get(const key_t& key, bool* compliant, uint32_t max_age, uint32_t* age_seconds) {
  critsect_locker_t guard(impl_->lock);
  const timegap_t now = impl_->clock();
  cleanup(now);
  const auto it = impl_->entries.find(key);
  if (it == impl_->entries.end()) return false;
  if (it->second.stored_at < now - static_cast<timegap_t>(max_age) * ticks_per_second) return false;
  *compliant = it->second.compliant;
  if (age_seconds != nullptr) *age_seconds = static_cast<uint32_t>((now - it->second.stored_at) / ticks_per_second);
  return true;
}

void nap_cache_t::set(const key_t& key, bool compliant, uint32_t lifetime) {
  critsect_locker_t guard(impl_->lock);
  const timegap_t now = impl_->clock();
  cleanup(now);
  timegap_t kept_for = static_cast<timegap_t>(lifetime) * ticks_per_second;
  auto it = impl_->entries.find(key);
  if (it == impl_->entries.end()) {
    const size_t charge = charge_of(key);
    make_room(charge);
    it = impl_->entries.emplace(key, entry_t{}).first;
    it->second.charge = charge;
    impl_->bytes += charge;
  } else {
    impl_->by_expiry.erase({it->second.expires_at, &it->first});
    kept_for = std::max(kept_for, it->second.lifetime);
  }
  const timegap_t expires_at = now + kept_for;
  // Index first: if it cannot grow, the entry must not stay unindexed.
  try {
    impl_->by_expiry.insert({expires_at, &it->first});
  } catch (...) {
    impl_->bytes -= it->second.charge;
    impl_->entries.erase(it);
    throw;
  }
  it->second.compliant = compliant;
  it->second.stored_at = now;
  it->second.expires_at = expires_at;
  it->second.lifetime = kept_for;
}
