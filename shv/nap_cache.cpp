// nap_cache_t: the ordered map of verdicts and its index by age.
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

void nap_cache_t::cleanup(timegap_t now) {
  const timegap_t limit =
      now - static_cast<timegap_t>(impl_->timeout.load(std::memory_order_relaxed)) * ticks_per_second;
  age_index_t& ages = impl_->by_age;
  while (!ages.empty() && ages.begin()->first < limit) evict_oldest();
}

void nap_cache_t::evict_oldest() {
  age_index_t& ages = impl_->by_age;
  if (ages.empty()) return;
  const auto entry = impl_->entries.find(*ages.begin()->second);
  ages.erase(ages.begin());
  impl_->entries.erase(entry);
}

bool nap_cache_t::get(const key_t& key, bool* compliant) {
  critsect_locker_t guard(impl_->lock);
  cleanup(impl_->clock());
  const auto it = impl_->entries.find(key);
  if (it == impl_->entries.end()) return false;
  *compliant = it->second.compliant;
  return true;
}

void nap_cache_t::set(const key_t& key, bool compliant) {
  critsect_locker_t guard(impl_->lock);
  const timegap_t now = impl_->clock();
  cleanup(now);
  auto it = impl_->entries.find(key);
  if (it == impl_->entries.end()) {
    if (impl_->entries.size() >= impl_->capacity) evict_oldest();
    it = impl_->entries.emplace(key, entry_t{}).first;
  } else {
    impl_->by_age.erase({it->second.stored_at, &it->first});
  }
  // Index first: if it cannot grow, the entry must not stay unindexed.
  try {
    impl_->by_age.insert({now, &it->first});
  } catch (...) {
    impl_->entries.erase(it);
    throw;
  }
  it->second.compliant = compliant;
  it->second.stored_at = now;
}
