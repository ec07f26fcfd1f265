// The name cache, the process-wide resolution statistics and the resolution
// timer.
#include "net/dns_cache.h"

#include <algorithm>
#include <atomic>
#include <type_traits>
#include <utility>

#include "kern/clock.h"
#include "kern/elapsed.h"
#include "kern/logger.h"
#include "net/unload.h"

namespace dns {

namespace {
std::atomic<uint64_t> resolutions{0};
std::atomic<uint64_t> total_milliseconds{0};
}  // namespace

statistics_t statistics() { return {resolutions.load(), total_milliseconds.load()}; }

namespace {
std::chrono::steady_clock::time_point steady_now() { return std::chrono::steady_clock::now(); }

// The family part of a cache key.
template <class List>
constexpr size_t family_of = std::is_same_v<List, ip4_list_t> ? 4 : 6;

// Never destroyed with the static objects: at process exit, resolutions
// still running on other threads may use it after they are gone.
kern_n::lazy_t<name_cache_t> cache;
}  // namespace

name_cache_t::name_cache_t() : clock_(&steady_now) {}

name_cache_t& name_cache_t::instance() { return cache.get(); }

void detail::release_name_cache() noexcept { cache.release(); }

template <class List>
bool name_cache_t::find_answer(const std::string& name, List& out) {
  const critsect_locker_t guard(lock_);
  const auto it = entries_.find(key_t(family_of<List>, name));
  if (it == entries_.end()) return false;
  if (it->second.expires <= clock_()) {
    entries_.erase(it);
    return false;
  }
  out = std::get<List>(it->second.answer);
  return true;
}

template <class List>
void name_cache_t::store_answer(const std::string& name, const List& list, uint32_t ttl_seconds) {
  if (ttl_seconds == 0 || list.empty()) return;
  const critsect_locker_t guard(lock_);
  const auto now = clock_();
  const auto expires = now + std::chrono::seconds(std::min(ttl_seconds, max_ttl_seconds));
  const key_t key(family_of<List>, name);
  if (entries_.size() >= capacity && entries_.find(key) == entries_.end()) {
    std::erase_if(entries_, [&](const auto& e) { return e.second.expires <= now; });
    if (entries_.size() >= capacity) {
      entries_.erase(std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
        return a.second.expires < b.second.expires;
      }));
    }
  }
  entries_[key] = entry_t{answer_t(list), expires};
}

bool name_cache_t::find(const std::string& name, ip4_list_t& out) { return find_answer(name, out); }
bool name_cache_t::find(const std::string& name, ip6_list_t& out) { return find_answer(name, out); }

void name_cache_t::store(const std::string& name, const ip4_list_t& list, uint32_t ttl_seconds) {
  store_answer(name, list, ttl_seconds);
}

void name_cache_t::store(const std::string& name, const ip6_list_t& list, uint32_t ttl_seconds) {
  store_answer(name, list, ttl_seconds);
}

size_t name_cache_t::size() const {
  const critsect_locker_t guard(lock_);
  return entries_.size();
}

void name_cache_t::clear() {
  const critsect_locker_t guard(lock_);
  entries_.clear();
}

void name_cache_t::set_clock(clock_fn clock) {
  const critsect_locker_t guard(lock_);
  clock_ = clock != nullptr ? clock : &steady_now;
}

namespace detail {

resolve_timer_t::resolve_timer_t(std::string host) : host_(std::move(host)), start_(clock_ticks()) {}

resolve_timer_t::~resolve_timer_t() {
  timegap_t gap = clock_ticks() - start_;
  if (gap < 0) gap = 0;  // the wall clock went back
  if (kern_n::log_enabled(lvl_debug3)) {
    try {
      const std::string elapsed = elapsed_time(gap);
      kern_n::log_at(lvl_debug3, "[DNS] Resolve \"%s\" time is %s", host_.c_str(), elapsed.c_str());
    } catch (...) {
    }
  }
  resolutions.fetch_add(1);
  total_milliseconds.fetch_add(static_cast<uint64_t>(gap / ticks_per_millisecond));
}

}  // namespace detail
}  // namespace dns
