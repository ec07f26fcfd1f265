// nap_cache_t: the ordered map of verdicts and its index by expiry.
#include "shv/nap_cache.h"

#include "kern/clock.h"

namespace {
timegap_t wall_clock() { return clock_ticks(kern_n::clock_wall); }
}  // namespace

nap_cache_t::nap_cache_t(size_t capacity) : impl_(std::make_shared<impl_t>()) {
  impl_->clock = &wall_clock;
  impl_->capacity = capacity != 0 ? capacity : 1;
}

nap_cache_t& nap_cache_t::instance() {
  static nap_cache_t cache;
  return cache;
}

size_t nap_cache_t::size() const {
  critsect_locker_t guard(impl_->lock);
  return impl_->entries.size();
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
  impl_->entries.erase(it);
}

void nap_cache_t::evict_first() {
  if (!impl_->by_expiry.empty()) erase(impl_->entries.find(*impl_->by_expiry.begin()->second));
}

bool nap_cache_t::get(const key_t& key, bool* compliant, uint32_t max_age) {
  critsect_locker_t guard(impl_->lock);
  const timegap_t now = impl_->clock();
  cleanup(now);
  const auto it = impl_->entries.find(key);
  if (it == impl_->entries.end()) return false;
  if (it->second.stored_at < now - static_cast<timegap_t>(max_age) * ticks_per_second) {
    erase(it);
    return false;
  }
  *compliant = it->second.compliant;
  return true;
}

void nap_cache_t::set(const key_t& key, bool compliant, uint32_t lifetime) {
  critsect_locker_t guard(impl_->lock);
  const timegap_t now = impl_->clock();
  cleanup(now);
  auto it = impl_->entries.find(key);
  if (it == impl_->entries.end()) {
    if (impl_->entries.size() >= impl_->capacity) evict_first();
    it = impl_->entries.emplace(key, entry_t{}).first;
  } else {
    impl_->by_expiry.erase({it->second.expires_at, &it->first});
  }
  const timegap_t expires_at = now + static_cast<timegap_t>(lifetime) * ticks_per_second;
  // Index first: if it cannot grow, the entry must not stay unindexed.
  try {
    impl_->by_expiry.insert({expires_at, &it->first});
  } catch (...) {
    impl_->entries.erase(it);
    throw;
  }
  it->second.compliant = compliant;
  it->second.stored_at = now;
  it->second.expires_at = expires_at;
}
